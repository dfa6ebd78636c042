#pragma once

#include <cstdint>
#include <span>

#include "compare/entries.h"

namespace kelpie {

// The bytes of data in [start, start + len), cut to what data holds.
std::span<const uint8_t> DataRange(std::span<const uint8_t> data, int64_t start, int64_t len);

// A field of one block record, read without moving the list's cursor.
int64_t BlockValue(const CompareJob& job, const uint8_t* block, BlockField field);

// Cuts the job's data into ranges of at most maxBlockSize bytes, each Queued
// (fingerprinted only when its check is sent), and makes the first one Next.
// An empty file gives one range of length 0. False when the list cannot be
// made.
bool CutBlocks(CompareJob& job, int32_t maxBlockSize);

// Gives the job's Sent block the responder's answer: it is split in two when
// it is longer than maxBlockSize, or when it was not found at its own offset
// and is at least minBlockSize long; otherwise it is Settled and the next
// Queued block becomes Next.
void AnswerActiveBlock(CompareJob& job, int32_t found, int32_t minBlockSize, int32_t maxBlockSize);

}  // namespace kelpie
