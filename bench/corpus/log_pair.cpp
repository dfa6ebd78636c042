// Log lines in the shape a web service writes them: timestamp, level,
// component, message with numbers that vary.
#include <time.h>

#include <array>
#include <cstdio>
#include <ctime>

#include "unit_pair.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr time_t kStart = 1715644800;  // 2024-05-14 00:00:00 UTC
constexpr int kEdits = 20;

class LogLines {
 public:
  explicit LogLines(uint64_t seed) : rng_(seed) {}

  std::string Next() {
    clockMs_ += rng_.Between(0, 250);
    return Stamp() + Message(rng_) + "\n";
  }
  // A line only the peer has, stamped with the current time.
  std::string Extra(Rng& rng) const { return Stamp() + Message(rng) + "\n"; }

 private:
  std::string Stamp() const {
    time_t seconds = kStart + clockMs_ / 1000;
    tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03d ", static_cast<int>(clockMs_ % 1000));
    return text;
  }
  static std::string Message(Rng& r);

  Rng rng_;
  int64_t clockMs_ = 0;
};

std::string LogLines::Message(Rng& r) {
  static const std::array<const char*, 4> methods = {"GET", "GET", "POST", "PUT"};
  static const std::array<const char*, 4> paths = {"/api/v2/items", "/api/v2/orders", "/static/img",
                                                   "/api/v2/users"};
  char text[200];
  auto n = [&](int64_t low, int64_t high) { return static_cast<long long>(r.Between(low, high)); };
  switch (r.Between(0, 5)) {
    case 0:
    case 1:
      std::snprintf(
          text, sizeof text,
          "INFO  [worker-%lld] http: %s %s/%lld %lld %lldB %lldms client=10.%lld.%lld.%lld",
          n(0, 15), methods[n(0, 3)], paths[n(0, 3)], n(1, 99999), n(0, 9) == 0 ? 404LL : 200LL,
          n(80, 90000), n(1, 400), n(0, 255), n(0, 255), n(1, 254));
      break;
    case 2:
      std::snprintf(text, sizeof text, "DEBUG [cache] hit ratio %lld%% after %lld lookups",
                    n(40, 99), n(1000, 999999));
      break;
    case 3:
      std::snprintf(text, sizeof text,
                    "WARN  [db-pool] slow query (%lld ms): SELECT * FROM orders WHERE customer_id "
                    "= %lld",
                    n(500, 5000), n(1, 500000));
      break;
    case 4:
      std::snprintf(text, sizeof text, "INFO  [scheduler] job report-%lld finished in %lld ms",
                    n(1, 40), n(10, 90000));
      break;
    default:
      std::snprintf(text, sizeof text,
                    "ERROR [worker-%lld] upstream timeout talking to backend-%lld:8080, retry "
                    "%lld/5",
                    n(0, 15), n(1, 9), n(1, 5));
  }
  return text;
}

}  // namespace

bool WriteLogPair(const PairRequest& request) {
  Rng rng(request.seed);
  LogLines lines(request.seed + 1);
  return WriteUnitPair(
      request, kEdits, rng, [&] { return lines.Next(); },
      [&](const std::string& line) {
        return rng.Percent(50) ? std::string() : line + lines.Extra(rng);
      });
}

}  // namespace kelpie::bench
