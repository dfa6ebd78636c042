// Fixed-size binary records as a data logger appends them: sequence number,
// time, sensor, readings, status, a label and a checksum.
#include <cstdio>
#include <cstring>

#include "unit_pair.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr size_t kRecordSize = 128;
constexpr int kEdits = 40;
constexpr size_t kReadingsAt = 24, kStatusAt = 56, kLabelAt = 64, kChecksumAt = 120;

template <typename T>
void Put(std::string& record, size_t at, T value) {
  std::memcpy(record.data() + at, &value, sizeof value);
}

// FNV-1a over everything before the checksum field.
void Seal(std::string& record) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < kChecksumAt; ++i)
    hash = (hash ^ static_cast<unsigned char>(record[i])) * 1099511628211ull;
  Put(record, kChecksumAt, hash);
}

std::string Record(uint64_t sequence, Rng& rng) {
  std::string record(kRecordSize, '\0');
  uint32_t sensor = static_cast<uint32_t>(sequence % 64);
  Put(record, 0, uint32_t{0x4345524B});  // "KREC"
  Put(record, 4, sensor);
  Put(record, 8, sequence);
  Put(record, 16, uint64_t{1715644800000} + sequence * 250);
  for (size_t i = 0; i < 4; ++i)
    Put(record, kReadingsAt + 8 * i, 20.0 + static_cast<double>(rng.Between(0, 999)) / 100.0);
  Put(record, kStatusAt, static_cast<uint32_t>(rng.Percent(3) ? 2 : 0));
  std::snprintf(record.data() + kLabelAt, 48, "sensor-%02u/room-%03u", sensor, sensor * 7 % 200);
  Seal(record);
  return record;
}

// Most edits change a field in place; some add a record after this one or
// drop it.
std::string EditRecord(const std::string& record, Rng& rng) {
  int64_t kind = rng.Between(0, 99);
  if (kind < 15) return "";
  if (kind < 40) return record + Record(rng.Next() % 1000000 + 1000000000, rng);
  std::string changed = record;
  if (rng.Percent(50)) {
    Put(changed, kStatusAt, static_cast<uint32_t>(rng.Between(1, 9)));
  } else {
    Put(changed, kReadingsAt + 8 * rng.Between(0, 3), -1.0);
  }
  Seal(changed);
  return changed;
}

}  // namespace

bool WriteRecordsPair(const PairRequest& request) {
  Rng rng(request.seed), values(request.seed + 1);
  uint64_t sequence = 0;
  return WriteUnitPair(
      request, kEdits, rng, [&] { return Record(sequence++, values); },
      [&](const std::string& record) { return EditRecord(record, rng); });
}

}  // namespace kelpie::bench
