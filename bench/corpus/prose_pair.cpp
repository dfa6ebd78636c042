// Prose: sentences of common words in paragraphs, edited here and there a
// word at a time as a writer revises a document.
#include <array>
#include <cctype>

#include "unit_pair.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr int kEdits = 40;

// Frequent words come first and are drawn more often.
constexpr std::array<const char*, 96> kWords = {
    "the",       "of",       "and",      "to",         "a",         "in",       "is",
    "that",      "for",      "it",       "as",         "was",       "with",     "be",
    "by",        "on",       "not",      "this",       "are",       "or",       "from",
    "at",        "which",    "an",       "but",        "have",      "they",     "one",
    "were",      "all",      "their",    "there",      "been",      "when",     "more",
    "would",     "some",     "into",     "other",      "only",      "time",     "these",
    "two",       "may",      "first",    "then",       "could",     "over",     "such",
    "where",     "after",    "most",     "made",       "between",   "river",    "village",
    "harbour",   "morning",  "letter",   "winter",     "machine",   "garden",   "council",
    "question",  "evening",  "century",  "travellers", "mountain",  "history",  "station",
    "northern",  "quietly",  "although", "because",    "several",   "nothing",  "remained",
    "carefully", "beyond",   "children", "market",     "distance",  "against",  "without",
    "building",  "possible", "returned", "afterwards", "important", "together", "suddenly",
    "measured",  "island",   "weather",  "lantern",    "ferry"};

std::string Word(Rng& rng) {
  // Two draws, keep the smaller: a cheap skew towards frequent words.
  int64_t a = rng.Between(0, kWords.size() - 1), b = rng.Between(0, kWords.size() - 1);
  return kWords[std::min(a, b)];
}

class Sentences {
 public:
  explicit Sentences(uint64_t seed) : rng_(seed) {}

  std::string Next() {
    std::string sentence = Word(rng_);
    sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
    for (int64_t i = rng_.Between(5, 21); i > 0; --i)
      sentence += (rng_.Percent(8) ? ", " : " ") + Word(rng_);
    // Paragraphs of a few sentences, one per line as markdown keeps them.
    bool paragraphEnds = ++inParagraph_ >= rng_.Between(3, 7);
    if (paragraphEnds) inParagraph_ = 0;
    return sentence + (paragraphEnds ? ".\n\n" : ". ");
  }

 private:
  Rng rng_;
  int inParagraph_ = 0;
};

// Replaces one word of the sentence with another.
std::string ChangeWord(const std::string& sentence, Rng& rng) {
  size_t start = 0;
  for (int64_t skip = rng.Between(0, 4); skip > 0; --skip) {
    size_t space = sentence.find(' ', start);
    if (space == std::string::npos) break;
    start = space + 1;
  }
  size_t end = sentence.find_first_of(" ,.", start);
  std::string word = Word(rng);
  if (sentence.compare(start, end - start, word) == 0) word += "s";
  return sentence.substr(0, start) + word + sentence.substr(end);
}

}  // namespace

bool WriteProsePair(const PairRequest& request) {
  Rng rng(request.seed);
  Sentences sentences(request.seed + 1);
  return WriteUnitPair(
      request, kEdits, rng, [&] { return sentences.Next(); },
      [&](const std::string& sentence) { return ChangeWord(sentence, rng); });
}

}  // namespace kelpie::bench
