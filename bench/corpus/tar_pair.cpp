// A tar of a real source tree, as a build or backup would archive it; the
// peer's archive has a few files edited and one added, so everything after
// each change sits at a new offset.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "rng.h"
#include "ustar.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kEditedFiles = 5;

struct Entry {
  std::string name;  // in the archive
  fs::path source;
  int64_t size = 0;
};

// Regular files under the tree (no links), by path.
std::vector<fs::path> TreeFiles(const fs::path& tree) {
  std::vector<fs::path> files;
  std::error_code error;
  fs::recursive_directory_iterator it(tree, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->symlink_status(error).type() == fs::file_type::regular) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Copies of the tree, one after another under src-1/, src-2/, ..., until
// the archive reaches the size.
std::vector<Entry> PlanEntries(const fs::path& tree, int64_t size) {
  std::vector<fs::path> files = TreeFiles(tree);
  std::vector<Entry> entries;
  int64_t total = 2 * kTarBlock;  // the end-of-archive blocks
  for (int copy = 1; total < size && !files.empty(); ++copy) {
    for (const fs::path& file : files) {
      std::string name =
          "src-" + std::to_string(copy) + "/" + fs::relative(file, tree).generic_string();
      std::error_code error;
      int64_t bytes = static_cast<int64_t>(fs::file_size(file, error));
      if (error || name.size() > 100) continue;
      entries.push_back({name, file, bytes});
      total += kTarBlock + bytes + TarPadding(bytes);
      if (total >= size) break;
    }
  }
  return entries;
}

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteEntry(std::ofstream& out, const std::string& name, const std::string& content) {
  auto header = TarFileHeader(name, static_cast<int64_t>(content.size()));
  out.write(header.data(), kTarBlock);
  out << content << std::string(static_cast<size_t>(TarPadding(content.size())), '\0');
}

// A line added at the start of a line somewhere in the file.
std::string EditContent(const std::string& content, Rng& rng) {
  size_t at = static_cast<size_t>(rng.Between(0, static_cast<int64_t>(content.size()) - 1));
  size_t line = content.find('\n', at);
  at = line == std::string::npos ? content.size() : line + 1;
  return content.substr(0, at) + "/* reviewed: keep in step with the caller */\n" +
         content.substr(at);
}

std::string AddedFile(Rng& rng) {
  std::string text = "/* Notes kept next to the sources. */\n";
  for (int i = 0; i < 120; ++i)
    text += "#define KELPIE_NOTE_" + std::to_string(i) + " " + std::to_string(rng.Next() % 100000) +
            "\n";
  return text;
}

// Distinct non-empty entries to edit.
std::set<size_t> PickEdited(const std::vector<Entry>& entries, Rng& rng) {
  std::set<size_t> picked;
  for (int tries = 0; tries < 1000 && picked.size() < kEditedFiles; ++tries) {
    size_t i = static_cast<size_t>(rng.Between(0, static_cast<int64_t>(entries.size()) - 1));
    if (entries[i].size > 0) picked.insert(i);
  }
  return picked;
}

}  // namespace

bool WriteTarPair(const PairRequest& request) {
  std::vector<Entry> entries = PlanEntries(request.tree, request.size);
  if (entries.empty()) return false;
  Rng rng(request.seed);
  std::set<size_t> edited = PickEdited(entries, rng);
  size_t addAt = static_cast<size_t>(rng.Between(0, static_cast<int64_t>(entries.size()) - 1));
  std::ofstream local(request.localPath, std::ios::binary | std::ios::trunc);
  std::ofstream peer(request.peerPath, std::ios::binary | std::ios::trunc);
  for (size_t i = 0; i < entries.size() && local && peer; ++i) {
    if (i == addAt) WriteEntry(peer, "src-1/notes/added-notes.h", AddedFile(rng));
    std::optional<std::string> content = ReadFile(entries[i].source);
    if (!content) continue;
    WriteEntry(local, entries[i].name, *content);
    WriteEntry(peer, entries[i].name, edited.count(i) ? EditContent(*content, rng) : *content);
  }
  std::string end(2 * kTarBlock, '\0');
  local << end;
  peer << end;
  return local.flush() && peer.flush();
}

}  // namespace kelpie::bench
