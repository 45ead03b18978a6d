// The one way this program replaces a file of the user's (the plan file, a wall file, a
// processor's settings file): whole and atomically, through symbolic links, never over a file
// that is locked.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Writes data to a temporary file beside the file path names, flushes it to the disk, renames it
// over that file and flushes the folder, so that the file always holds either the old or the new
// content, whole, even after a power cut.
// - A symbolic link is written through: the file where its chain of links ends is replaced (each
//   relative target taken from its link's folder; a dangling link's file is made) and the links
//   stay links. Links that go round fail with ELOOP.
// - A file this user may not write is never replaced (the rename needs only the folder's
//   permission, so the file's own is checked first), nor one whose mode grants write to no one:
//   that is how an integrator locks a file, and it holds for root, who passes every access check.
//   Both fail with EACCES. Something other than a plain file in its place fails with EISDIR.
// - The replacement keeps the file's permission bits, owner and group (a file of the operator's
//   written by root stays the operator's).
// - Temporary files that killed writes of the same file left behind are removed.
// Returns 0, or the errno of what failed; the file is then as it was.
int ReplaceFileAtomically(const std::string& path, std::string_view data);

// Whether ReplaceFileAtomically could replace the file now, before anything is read for it: 0, or
// the errno it would fail with (EPERM for a folder this user may not write).
int CheckReplaceable(const std::string& path);

}  // namespace platform
