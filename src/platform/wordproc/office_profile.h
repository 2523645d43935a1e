// The private LibreOffice profile of an instance this program starts: a
// folder "office-XXXXXX" under a parent folder, with settings that keep
// documents from reaching out, and a note of who started the instance, so
// that a later run can stop an instance whose run was killed and remove its
// profile.
#pragma once

#include <string>
#include <sys/types.h>

namespace qf::wordproc {

// $XDG_CACHE_HOME/quillfence (~/.cache/quillfence).
std::string DefaultProfileParent();

// Makes a new private profile under `parent` (created when missing) and
// returns its folder.  Profiles left by runs that ended without stopping their
// instance are cleaned up first (see RemoveStaleProfiles).  Throws
// WordProcessorError (NotAvailable) saying what could not be made.
std::string CreatePrivateProfile(const std::string& parent);

// Notes in `profile` that this process started the instance whose process
// group is `group`, accepting on `pipe`.  Throws qf::Error.
void RecordProfileOwner(const std::string& profile, pid_t group, const std::string& pipe);

// Removes a profile folder with everything in it; what cannot be removed stays.
void RemovePrivateProfile(const std::string& profile);

// Profiles under `parent` whose starter is gone (killed, or crashed in a way
// no handler saw): the instance is killed when its group still runs that
// profile (a group number alone may have been reused), then the profile and
// the instance's pipe socket are removed.
void RemoveStaleProfiles(const std::string& parent);

} // namespace qf::wordproc
