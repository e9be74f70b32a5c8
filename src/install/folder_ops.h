#pragma once
// Folder operations the install job's all-or-nothing behaviour rests on.
// Links inside a tree being moved or flushed are never followed: a
// link is moved as a link, and what it points to is left alone.
// Links already in a move's target are the user's: a link to a folder is
// merged into, a link where a file goes is replaced by the file.
#include <functional>
#include <string>

namespace velmo {

// Moves every entry of source into target, replacing files and merging
// folders. Every target is checked before the first change (kinds agree,
// folders writable, room on another volume); a file bound for another
// volume is copied, flushed and renamed beside its target, and its source
// deleted once the move is complete. Replaced files are kept aside until
// everything is in place, so a failure part-way puts back what was changed;
// one that cannot be deleted then (still open) is hidden and removed by the
// next move into its folder. An entry of source's top level named leave
// stays where it is. Before anything replaced is let go, the source must
// have been emptied and proveInPlace (when given) must hold; otherwise
// everything is put back. True only when every other entry is in the target.
bool moveTreeInto(const std::wstring& source, const std::wstring& target, const std::wstring& leave = std::wstring(),
                  const std::function<bool()>& proveInPlace = nullptr);

}  // namespace velmo
