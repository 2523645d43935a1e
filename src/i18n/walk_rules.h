// The rules of the window walk that need no widgets: item lists kept as one
// text, and the recording of texts a language file lacks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

class StringLoader;

// The items as one text, each followed by CR LF.
std::string JoinItems(const std::vector<std::string>& items);
// The lines of `text`, split at CR LF, a lone CR or a lone LF; a final line
// break ends the last item and adds no empty one.
std::vector<std::string> SplitItems(std::string_view text);

// The item list rule.  `translated` is the unescaped value of the list's
// "<name>.items" key.  Gives the new items, or nothing when the list stays
// as it is (the value equals the current items).  With `completeShorter`
// (drop-down lists) a shorter translation is completed with the former
// items from its length on, so every choice stays reachable.
std::optional<std::vector<std::string>> TranslateItems(const std::vector<std::string>& current,
                                                       std::string_view translated,
                                                       bool completeShorter);

// Whether texts missing from the loader's file are recorded into it: true
// only for the English file, which the program itself keeps complete.
bool RecordsMissingTexts(const StringLoader& loader);

// Records `text` under `key` in `section` when the loader records missing
// texts and the file has no such key yet.  Empty texts are never recorded.
void RecordIfMissing(StringLoader& loader, std::string_view section, std::string_view key,
                     std::string_view text);

} // namespace qf
