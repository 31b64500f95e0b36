// open_path: opens a path of any length. One within the system's limit
// (PATH_MAX) is opened directly; a longer one a directory at a time, each
// step as long as the limit allows, so that every name resolves as it would
// in one open. Returns the descriptor, or -1 with errno set as open sets it
// (ENAMETOOLONG for a single name longer than the limit).
#pragma once

int open_any_length(const char *path, int flags);
