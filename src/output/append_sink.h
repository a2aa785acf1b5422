#pragma once
// The merged log of a follower: appended to, never replaced, and flushed batch by batch so
// that a reader sees every entry written as soon as its batch is. Compressed, each batch is
// one gzip member: the file is a valid multi-member gzip file after every batch, which zcat
// reads whole.

#include <memory>

#include "output/sink.h"

// ---- Opening ---------------------------------------------------------------------------------
// Opens `path` for appending (created when missing), or standard output when `path` is null,
// writing gzip members at `level` when `compress`. `empty` tells whether nothing was there
// before (a header line then opens the log). Null when it cannot be opened; errno says why.
std::unique_ptr<OutputSink> OpenAppendingSink(const char* path, bool compress, int level,
                                              bool& empty);
