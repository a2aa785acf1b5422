#pragma once
// Inputs with the same content: the same file named twice (by any path), a copy made by
// rsync or cp, a rotated log beside its gzip twin (access.log.1 and access.log.1.gz). Each
// is merged once, with a message, instead of every entry twice.

#include <string>
#include <vector>

// For each name, whether it is to be left out because an earlier name has the same content:
// one file under two names; regular files of one size whose first and last 64 KiB hash alike
// and whose bytes, compared whole, are equal; or, where either is gzip, files whose decoded
// sizes (gzip's trailer, a plain file's size) agree and whose decoded bytes, compared whole,
// are equal. Says for each one left out "'<later>' has the same content as '<earlier>';
// merged once." A file that cannot be read here, or whose decoding fails, is kept: opening
// it for the merge reports why.
std::vector<bool> SameContentAsEarlier(const std::vector<std::string>& names);
