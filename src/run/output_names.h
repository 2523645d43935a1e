// The names of the output files one run has written, compared the way the
// output folder's file system compares them: on vfat, exFAT, NTFS and most
// SMB shares "CV.txt" and "cv.txt" are one file, and writing the second would
// replace the text of an email already disposed of.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>

namespace qf {

// How a folder's file system matches file names.
enum class NameMatching { Exact, IgnoringCase };

// How the file system holding `existingFile` (a file just written) matches
// names: looked up under its name with the letters' case flipped, which finds
// the same file only where case is ignored (this also catches case-folding
// folders of ext4 and SMB servers that ignore case).  A name without letters
// is judged by the kind of file system: vfat, exFAT, NTFS (ntfs3), SMB and CIFS
// ignore case.
NameMatching NameMatchingOf(const std::string& existingFile);

// The same name in the form used to compare it under `matching`: as it is, or
// with every letter in lower case (Unicode, as far as the locale knows it).
std::string NameKey(const std::string& path, NameMatching matching);

class WrittenNames {
public:
    // The matching is found out from the first file recorded, unless given.
    WrittenNames() = default;
    explicit WrittenNames(NameMatching matching) : matching_(matching) {}

    // Records an output file just written.  The first one tells how the
    // folder matches names.
    void Add(const std::string& path);
    // True when writing `path` would replace a file recorded by Add.
    bool Contains(const std::string& path) const;

private:
    std::optional<NameMatching> matching_;
    std::unordered_set<std::string> keys_;
};

} // namespace qf
