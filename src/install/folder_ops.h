#pragma once
// Folder operations the install job's all-or-nothing behaviour rests on.
// Symbolic links inside a tree are never followed: a link is deleted or
// moved as a link, and what it points to is left alone.
#include <string>

namespace velmo {

// Creates every missing folder of path; true when the folder exists after
// (an existing entry of that name counts). The root prefix is never tried.
bool createDirectoryChain(const std::wstring& path);
// Deletes a tree depth first; failures are ignored and the walk goes on.
void removeTree(const std::wstring& path);
// True when the folder has no entries, or cannot be listed.
bool isDirectoryEmpty(const std::wstring& path);
// Moves every entry of source into target, replacing files and merging
// folders; true when everything moved.
bool moveTreeInto(const std::wstring& source, const std::wstring& target);
// fsyncs every file and folder of a tree (files before their folder), so a
// crash right after a reported success cannot leave torn files.
bool flushTree(const std::wstring& path);

}  // namespace velmo
