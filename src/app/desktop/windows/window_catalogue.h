// Every window of the desktop program, built one after the other without
// being shown: the English language file is recorded by walking them.
#pragma once

#include <functional>

class QWidget;

namespace qf::desktop {

// Builds each window of the program in turn and hands it to `visit`; the
// window is destroyed afterwards.  A new window adds one line to the list
// in window_catalogue.cpp.
void ForEachWindow(const std::function<void(QWidget&)>& visit);

} // namespace qf::desktop
