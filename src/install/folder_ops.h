#pragma once
// Folder operations the install job's all-or-nothing behaviour rests on.
// Links inside a tree being moved or flushed are never followed: a
// link is moved as a link, and what it points to is left alone.
// Links already in a move's target are the user's: a link to a folder is
// merged into, a link where a file goes is replaced by the file.
#include <string>

namespace velmo {

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
