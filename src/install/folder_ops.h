#pragma once
// Folder operations the install job's all-or-nothing behaviour rests on.
// Links inside a tree being removed, listed or moved are never followed: a
// link is deleted or moved as a link, and what it points to is left alone.
// Links already in a move's target are the user's: a link to a folder is
// merged into, a link where a file goes is replaced by the file.
#include <string>

namespace velmo {

// Creates every missing folder of path; true when the folder exists after
// (an existing entry of that name counts). The root prefix is never tried.
bool createDirectoryChain(const std::wstring& path);
// Deletes a tree depth first; failures are ignored and the walk goes on.
// A link at path is unlinked, never entered.
void removeTree(const std::wstring& path);
// True when the folder has no entries, or cannot be listed.
bool isDirectoryEmpty(const std::wstring& path);
// Moves every entry of source into target, replacing files and merging
// folders. Every target is checked before the first change (kinds agree,
// folders writable, room on another volume); a file bound for another
// volume is copied, flushed and renamed beside its target. Replaced files
// are kept aside until everything is in place, so a failure part-way puts
// back what was changed. True only when every entry is in the target.
bool moveTreeInto(const std::wstring& source, const std::wstring& target);
// fsyncs every file and folder of a tree (files before their folder), so a
// crash right after a reported success cannot leave torn files.
bool flushTree(const std::wstring& path);

}  // namespace velmo
