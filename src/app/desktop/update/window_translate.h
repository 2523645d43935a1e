// Translating a window from the current language file: its caption and the
// captions and hints of its named components, from the section named after
// the window's class, under the keys "<object name>.Caption" and
// "<object name>.Hint".  An empty caption is never given a translation; a hint
// may be added where there was none; an empty value in the file changes
// nothing.
#pragma once

#include <string>

class QWidget;

namespace qf::desktop {

void TranslateWindow(QWidget& window, const std::string& section);

} // namespace qf::desktop
