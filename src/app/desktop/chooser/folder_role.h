// Which of the settings' two mail folders a folder chooser is filling.
#pragma once

namespace qf::desktop {

enum class FolderRole { Source, Destination };

} // namespace qf::desktop
