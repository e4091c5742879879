#include "kestrane/brain/PreparedScript.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/brain/TextAlignDetail.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::TakeSelector {

namespace {

using TextAlign::detail::kNearMatchLength;
using TextAlign::detail::PreparedTokens;

// Script tokens in more beats than this (function words, mostly) are followed
// to their beats only when the beats found through rarer tokens leave room;
// every beat records which of the most frequent ones it holds.
constexpr std::size_t kFrequent = 16;
constexpr int kFrequentBits = 128;
using FrequentSet = std::array<std::uint64_t, kFrequentBits / 64>;
// A bound rounded differently from the value it bounds is kept on the safe
// side by this; values never exceed 1, so neither need their bounds.
constexpr double kSlack = 1e-9;
double safe(double bound) { return std::min(1.0, bound + kSlack); }

std::uint64_t mixed(std::uint64_t h) {
  h ^= h >> 29;
  h *= 0xbf58476d1ce4e5b9ULL;
  return h ^ (h >> 32);
}

// Words up to this many characters are found through their deletion variants,
// whose number grows with the square of the length; longer ones (no real word,
// but a session may hold one) are compared with the few of a similar length.
constexpr int kVariantLength = 32;

// Hashes of the token with up to two characters deleted. Two tokens within two
// edits of each other share one of these (a substitution deletes from both).
void variantHashes(const PreparedTokens& words, std::size_t k, std::vector<std::uint64_t>& out) {
  out.clear();
  thread_local std::vector<std::string_view> characters;
  const int length = words.length(k);
  characters.clear();
  for (int c = 0; c < length; ++c) characters.push_back(words.character(k, c));
  auto emit = [&](int skip1, int skip2) {
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a over the kept characters' bytes
    for (int c = 0; c < length; ++c)
      if (c != skip1 && c != skip2)
        for (char byte : characters[static_cast<std::size_t>(c)])
          h = (h ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
    out.push_back(mixed(h));
  };
  emit(-1, -1);
  for (int i = 0; i < length; ++i) {
    emit(i, -1);
    for (int j = i + 1; j < length; ++j) emit(i, j);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

// How one utterance meets one beat: distinct utterance and beat positions
// with an exact partner, and with any (exact or near) partner.
struct Meeting {
  int aExact = 0, aAny = 0, bExact = 0, bAny = 0;
};

// A query position and a script vocabulary entry it matches.
struct Entry {
  int id;
  int position;
  int kind;  // 2 exact, 1 near
  friend bool operator<(const Entry& x, const Entry& y) { return x.id != y.id ? x.id < y.id : x.position < y.position; }
};

// Per-thread working memory; stamps instead of clearing between queries.
struct Scratch {
  std::uint64_t epoch = 0, scan = 0;
  std::vector<std::uint64_t> idSeen, beatSeen, beatSeenLate, positionSeen, positionExactSeen;
  std::vector<std::pair<int, int>> idEntries;  // id -> [first, last) in entries
  std::vector<Entry> entries;
  std::vector<int> rare, frequent;                    // ids the query meets
  FrequentSet frequentMet{};                          // the frequent ones among them
  std::array<Meeting, kFrequentBits> frequentHits{};  // their entries, by bit
  std::vector<char> frequentAny, frequentExact;       // per query position
  std::vector<Meeting> hits;                          // per beat: entries counted, positions unmerged
  std::vector<int> touched;
  std::vector<int> candidates;
  std::vector<std::uint64_t> hashes;
  std::vector<std::pair<double, int>> order, exact;  // (bound, beat)
};

// The bounds below hold for alignments at gap -1 (pair scores 2, 1 and -1).
// Along an alignment path with E exact pairs, N near pairs, M mismatches and
// G gap steps, the best score is 2E + N - M - G (the path starts from a zero
// cell), so M + G = 2E + N - best. E is at most X, the smaller of the counts
// of positions with an exact partner on either side, and E + N at most P, the
// same for any partner; so best <= X + P, and each list's covered span
// (pairs + mismatches + its own gaps) is at most X + 2P - best. Every bound
// grows with the counts, so counts known only from above still give bounds.
struct Counts {
  int x, p, s;  // X, P, and the span budget X + 2P
};

Counts counts(const Meeting& meeting) {
  int x = std::min(meeting.aExact, meeting.bExact), p = std::min(meeting.aAny, meeting.bAny);
  return {x, p, x + 2 * p};
}

// A beat counts when the score reaches 0.5, i.e. best >= min(m, n); the
// utterance's covered share is then at most (X + 2P - min(m, n)) / m.
struct Coverage {
  static double bound(const Meeting& meeting, int m, int n) {
    auto c = counts(meeting);
    const int shorter = std::min(m, n);
    if (c.x + c.p < shorter) return 0.0;
    return safe(static_cast<double>(std::min(m, c.s - shorter)) / static_cast<double>(m));
  }
  static double quick(const Meeting& meeting, int m, int n) { return bound(meeting, m, n); }
  static double value(const TextAlign::LocalAlignment& a, int m, int) {
    return beatMatchCoverage(a, static_cast<std::size_t>(m));
  }
};

// score(best) x span(best) / n, score rising with best and span falling: the
// largest value over whole best in 1...min(X + P, 2 min(m, n)) lies at an end,
// where either factor stops changing, or around the peak S / 2.
struct Rendition {
  static double bound(const Meeting& meeting, int m, int n) {
    auto c = counts(meeting);
    const int shorter = std::min(m, n);
    const int highest = std::min(c.x + c.p, 2 * shorter);
    if (highest < 1) return 0.0;
    auto at = [&](int best) {
      best = std::clamp(best, 1, highest);
      double score = std::min(1.0, static_cast<double>(best) / (2.0 * shorter));
      return score * (static_cast<double>(std::min(n, c.s - best)) / static_cast<double>(n));
    };
    double limit = 0;
    for (int best : {1, highest, 2 * shorter, c.s - n, c.s / 2, c.s / 2 + 1}) limit = std::max(limit, at(best));
    return safe(limit);
  }
  // Each factor at its own largest: looser, cheaper.
  static double quick(const Meeting& meeting, int m, int n) {
    auto c = counts(meeting);
    if (c.x + c.p < 1) return 0.0;
    double score = std::min(1.0, static_cast<double>(c.x + c.p) / (2.0 * std::min(m, n)));
    return safe(score * (static_cast<double>(std::min(n, c.s - 1)) / static_cast<double>(n)));
  }
  static double value(const TextAlign::LocalAlignment& a, int, int n) {
    return beatRenditionScore(a, static_cast<std::size_t>(n));
  }
};

std::atomic<std::uint64_t> generations{0};

// Partner lists (vocabulary entry, pair score) by token text, for one script.
constexpr std::size_t kCachedTokens = std::size_t{1} << 16;
struct PartnerCache {
  std::uint64_t generation = 0;
  std::unordered_map<std::string, std::vector<std::pair<int, int>>> lists;
};

}  // namespace

struct PreparedScript::Index {
  std::vector<TokenList> beats;
  TokenList flat;                                        // every beat's tokens, one after another
  std::vector<std::size_t> beatStart;                    // beat -> first flat position
  std::unique_ptr<PreparedTokens> words;                 // over flat
  std::vector<int> idOf;                                 // flat position -> vocabulary entry
  std::unordered_map<std::string_view, int> vocabulary;  // canonical text -> id
  std::vector<std::size_t> representative;               // id -> one flat position
  std::vector<std::vector<int>> beatsOf;                 // id -> the beats holding it, shortest first, then in order
  std::vector<std::vector<std::pair<int, int>>> lengthRuns;       // id -> (beat length, first place in beatsOf)
  const std::uint64_t generation = ++generations;                 // tells cached partner lists apart
  std::vector<int> frequentBit;                                   // id -> bit, -1 when not frequent
  std::vector<FrequentSet> frequentIn;                            // beat -> frequent ids it holds
  std::unordered_map<std::string_view, std::vector<int>> byHead;  // first four characters -> ids
  // (variant hash, id) sorted, with a directory on the hash's top bits.
  std::vector<std::pair<std::uint64_t, int>> byVariant;
  // (length, id) of every entry longer than kVariantLength - 2, by length: the
  // ones a word too long for variants can be near, and those too long to have any.
  std::vector<std::pair<int, int>> byLength;
  std::vector<std::uint32_t> directory;
  int shift = 64;

  explicit Index(std::vector<TokenList> script) : beats(std::move(script)) {
    for (const auto& beat : beats) {
      beatStart.push_back(flat.size());
      flat.insert(flat.end(), beat.begin(), beat.end());
    }
    beatStart.push_back(flat.size());
    words = std::make_unique<PreparedTokens>(flat);
    std::vector<std::uint64_t> hashes;
    for (std::size_t b = 0; b < beats.size(); ++b) {
      if (b % 1024 == 0) checkpoint();
      for (std::size_t p = beatStart[b]; p < beatStart[b + 1]; ++p) {
        auto [it, fresh] = vocabulary.try_emplace(words->text(p), static_cast<int>(representative.size()));
        const int id = it->second;
        idOf.push_back(id);
        if (fresh) {
          representative.push_back(p);
          beatsOf.emplace_back();
          const int length = words->length(p);
          if (static_cast<std::size_t>(length) >= kNearMatchLength) {
            byHead[words->head(p)].push_back(id);
            if (length > kVariantLength - 2) byLength.emplace_back(length, id);
            if (length <= kVariantLength) {
              variantHashes(*words, p, hashes);
              for (auto h : hashes) byVariant.emplace_back(h, id);
            }
          }
        }
        auto& holders = beatsOf[static_cast<std::size_t>(id)];
        if (holders.empty() || holders.back() != static_cast<int>(b)) holders.push_back(static_cast<int>(b));
      }
    }
    lengthRuns.resize(beatsOf.size());
    for (std::size_t id = 0; id < beatsOf.size(); ++id) {
      auto& holders = beatsOf[id];
      std::stable_sort(holders.begin(), holders.end(), [&](int x, int y) { return beatSize(x) < beatSize(y); });
      for (std::size_t k = 0; k < holders.size(); ++k)
        if (k == 0 || beatSize(holders[k]) != beatSize(holders[k - 1]))
          lengthRuns[id].emplace_back(static_cast<int>(beatSize(holders[k])), static_cast<int>(k));
    }
    std::vector<int> ranked;
    for (std::size_t id = 0; id < beatsOf.size(); ++id)
      if (beatsOf[id].size() > kFrequent) ranked.push_back(static_cast<int>(id));
    std::stable_sort(ranked.begin(), ranked.end(), [&](int x, int y) {
      return beatsOf[static_cast<std::size_t>(x)].size() > beatsOf[static_cast<std::size_t>(y)].size();
    });
    frequentBit.assign(beatsOf.size(), -1);
    frequentIn.assign(beats.size(), FrequentSet{});
    for (std::size_t bit = 0; bit < ranked.size() && bit < kFrequentBits; ++bit) {
      const auto id = static_cast<std::size_t>(ranked[bit]);
      frequentBit[id] = static_cast<int>(bit);
      for (int b : beatsOf[id]) frequentIn[static_cast<std::size_t>(b)][bit / 64] |= std::uint64_t{1} << (bit % 64);
    }

    std::sort(byLength.begin(), byLength.end());
    std::sort(byVariant.begin(), byVariant.end());
    int bits = 1;
    while ((std::size_t{1} << bits) < byVariant.size() && bits < 30) ++bits;
    shift = 64 - bits;
    directory.assign((std::size_t{1} << bits) + 1, 0);
    for (const auto& [h, id] : byVariant) ++directory[(h >> shift) + 1];
    for (std::size_t k = 1; k < directory.size(); ++k) directory[k] += directory[k - 1];
  }

  std::size_t beatSize(int b) const { return beats[static_cast<std::size_t>(b)].size(); }

  // Adds to s.entries the vocabulary entries that token k of the query
  // matches. An utterance's words recur, so each thread keeps the lists it
  // found for the script it last worked with.
  void partnersOf(const PreparedTokens& query, std::size_t k, Scratch& s) const {
    thread_local PartnerCache cache;
    if (cache.generation != generation || cache.lists.size() > kCachedTokens) {
      cache.lists.clear();
      cache.generation = generation;
    }
    auto [it, fresh] = cache.lists.try_emplace(std::string(query.text(k)));
    if (fresh) findPartners(query, k, s, it->second);
    for (const auto& [id, kind] : it->second) s.entries.push_back({id, static_cast<int>(k), kind});
  }

  void findPartners(const PreparedTokens& query, std::size_t k, Scratch& s,
                    std::vector<std::pair<int, int>>& partners) const {
    int exact = -1;
    if (auto found = vocabulary.find(query.text(k)); found != vocabulary.end()) {
      exact = found->second;
      partners.emplace_back(exact, 2);
    }
    if (static_cast<std::size_t>(query.length(k)) < kNearMatchLength) return;
    s.candidates.clear();
    if (auto found = byHead.find(query.head(k)); found != byHead.end())
      s.candidates.insert(s.candidates.end(), found->second.begin(), found->second.end());
    // Entries within two edits are at most two characters longer or shorter.
    const int length = query.length(k);
    const int fromLength = length <= kVariantLength ? kVariantLength + 1 : length - 2;
    for (auto e = std::lower_bound(byLength.begin(), byLength.end(), std::pair{fromLength, -1});
         e != byLength.end() && e->first <= length + 2; ++e)
      s.candidates.push_back(e->second);
    if (length <= kVariantLength) {
      variantHashes(query, k, s.hashes);
      for (auto h : s.hashes) {
        const auto slot = h >> shift;
        for (auto e = directory[slot]; e < directory[slot + 1]; ++e)
          if (byVariant[e].first == h) s.candidates.push_back(byVariant[e].second);
      }
    }
    std::sort(s.candidates.begin(), s.candidates.end());
    s.candidates.erase(std::unique(s.candidates.begin(), s.candidates.end()), s.candidates.end());
    for (int id : s.candidates) {
      if (id == exact) continue;
      int kind = TextAlign::detail::pairScore(query, k, *words, representative[static_cast<std::size_t>(id)]);
      if (kind > 0) partners.emplace_back(id, kind);
    }
  }

  // The counts for one beat, from its tokens and the query's entries.
  Meeting meet(int b, Scratch& s) const {
    Meeting m;
    const std::uint64_t scan = ++s.scan;
    const auto ub = static_cast<std::size_t>(b);
    for (std::size_t p = beatStart[ub]; p < beatStart[ub + 1]; ++p) {
      const auto id = static_cast<std::size_t>(idOf[p]);
      if (s.idSeen[id] != s.epoch) continue;
      bool exact = false;
      for (int e = s.idEntries[id].first; e < s.idEntries[id].second; ++e) {
        const Entry& entry = s.entries[static_cast<std::size_t>(e)];
        const auto a = static_cast<std::size_t>(entry.position);
        if (s.positionSeen[a] != scan) {
          s.positionSeen[a] = scan;
          ++m.aAny;
        }
        if (entry.kind != 2) continue;
        exact = true;
        if (s.positionExactSeen[a] != scan) {
          s.positionExactSeen[a] = scan;
          ++m.aExact;
        }
      }
      ++m.bAny;
      if (exact) ++m.bExact;
    }
    return m;
  }

  // The largest Measure::value over the beats, aligning only the beats whose
  // bound exceeds the best value found so far. Values are never negative; a
  // beat sharing no matching pair with the query gives 0.
  template <typename Measure>
  double best(Tokens tokens) const {
    checkpoint();
    if (tokens.empty() || beats.empty()) return 0;
    // A long script makes single calls long: the loops below look at the stop as they go.
    std::size_t steps = 0;
    auto step = [&steps] {
      if (++steps % 4096 == 0) checkpoint();
    };
    thread_local Scratch s;
    const PreparedTokens query(tokens);
    const int m = static_cast<int>(tokens.size());
    const std::uint64_t epoch = ++s.epoch;
    auto grow = [](auto& v, std::size_t size) { v.resize(std::max(v.size(), size)); };
    grow(s.idSeen, representative.size());
    grow(s.idEntries, representative.size());
    grow(s.beatSeen, beats.size());
    grow(s.beatSeenLate, beats.size());
    grow(s.hits, beats.size());
    grow(s.positionSeen, tokens.size());
    grow(s.positionExactSeen, tokens.size());
    s.frequentAny.assign(tokens.size(), 0);
    s.frequentExact.assign(tokens.size(), 0);

    s.entries.clear();
    for (std::size_t i = 0; i < tokens.size(); ++i) partnersOf(query, i, s);
    std::sort(s.entries.begin(), s.entries.end());
    s.rare.clear();
    s.frequent.clear();
    s.frequentMet = {};
    for (std::size_t e = 0; e < s.entries.size();) {
      const auto id = static_cast<std::size_t>(s.entries[e].id);
      std::size_t last = e;
      while (last < s.entries.size() && s.entries[last].id == s.entries[e].id) ++last;
      s.idSeen[id] = epoch;
      s.idEntries[id] = {static_cast<int>(e), static_cast<int>(last)};
      const int bit = frequentBit[id];
      (bit >= 0 ? s.frequent : s.rare).push_back(static_cast<int>(id));
      if (bit >= 0) {
        s.frequentMet[static_cast<std::size_t>(bit / 64)] |= std::uint64_t{1} << (bit % 64);
        Meeting& counted = s.frequentHits[static_cast<std::size_t>(bit)];
        counted = {};
        for (std::size_t k = e; k < last; ++k) {
          ++counted.aAny;
          s.frequentAny[static_cast<std::size_t>(s.entries[k].position)] = 1;
          if (s.entries[k].kind != 2) continue;
          ++counted.aExact;
          s.frequentExact[static_cast<std::size_t>(s.entries[k].position)] = 1;
        }
      }
      e = last;
    }

    double result = 0;
    auto align = [&](int b) {
      checkpoint();
      auto alignment =
          TextAlign::detail::localAlign(query, *words, beatStart[static_cast<std::size_t>(b)], beatSize(b), -1.0);
      result = std::max(result, Measure::value(alignment, m, static_cast<int>(beatSize(b))));
    };
    // Counts the query's entries for an id against one beat: at least as
    // many as the positions they stand for.
    auto tally = [&](std::vector<std::uint64_t>& seen, int b, std::size_t id) {
      step();
      const auto ub = static_cast<std::size_t>(b);
      if (seen[ub] != epoch) {
        seen[ub] = epoch;
        s.hits[ub] = {};
        s.touched.push_back(b);
      }
      for (int e = s.idEntries[id].first; e < s.idEntries[id].second; ++e) {
        ++s.hits[ub].aAny;
        if (s.entries[static_cast<std::size_t>(e)].kind == 2) ++s.hits[ub].aExact;
      }
    };
    // The touched beats: a cheap bound from the hits (with those of the
    // frequent tokens each holds, when asked), then one from the exact
    // counts, then aligning.
    auto settle = [&](bool addFrequent) {
      s.order.clear();
      for (int b : s.touched) {
        step();
        const int n = static_cast<int>(beatSize(b));
        Meeting h = s.hits[static_cast<std::size_t>(b)];
        if (addFrequent)
          for (std::size_t word = 0; word < s.frequentMet.size(); ++word)
            for (auto bits = frequentIn[static_cast<std::size_t>(b)][word] & s.frequentMet[word]; bits;
                 bits &= bits - 1) {
              const auto& counted = s.frequentHits[word * 64 + static_cast<std::size_t>(std::countr_zero(bits))];
              h.aAny += counted.aAny;
              h.aExact += counted.aExact;
            }
        const Meeting most{std::min(m, h.aExact), std::min(m, h.aAny), n, n};
        double quick = Measure::quick(most, m, n);
        if (quick > result) s.order.emplace_back(quick, b);
      }
      s.touched.clear();
      if (s.order.empty()) return;
      // The most promising beat first: usually it settles the question.
      auto top = std::max_element(s.order.begin(), s.order.end());
      const int first = top->second;
      std::swap(*top, s.order.back());
      s.order.pop_back();
      if (Measure::bound(meet(first, s), m, static_cast<int>(beatSize(first))) > result) align(first);
      s.exact.clear();
      for (const auto& [quick, b] : s.order) {
        step();
        if (!(quick > result)) continue;
        double limit = Measure::bound(meet(b, s), m, static_cast<int>(beatSize(b)));
        if (limit > result) s.exact.emplace_back(limit, b);
      }
      std::sort(s.exact.begin(), s.exact.end(), std::greater<>());
      for (const auto& [limit, b] : s.exact) {
        if (!(limit > result)) break;
        align(b);
      }
    };

    // Beats reached through a rarer token first; the frequent ones may meet them too.
    int frequentExact = 0, frequentAny = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      frequentAny += s.frequentAny[i];
      frequentExact += s.frequentExact[i];
    }
    s.touched.clear();
    for (int id : s.rare)
      for (int b : beatsOf[static_cast<std::size_t>(id)]) tally(s.beatSeen, b, static_cast<std::size_t>(id));
    settle(true);
    if (frequentAny == 0) return result;

    // Any other beat meets the query only through frequent tokens; lengths at
    // which even all of those could not do better are passed over.
    for (int id : s.frequent) {
      const auto uid = static_cast<std::size_t>(id);
      const auto& holders = beatsOf[uid];
      const auto& runs = lengthRuns[uid];
      for (std::size_t r = 0; r < runs.size(); ++r) {
        const int n = runs[r].first;
        const Meeting most{std::min(frequentExact, n), std::min(frequentAny, n), n, n};
        if (!(Measure::quick(most, m, n) > result)) continue;
        const auto last = r + 1 < runs.size() ? static_cast<std::size_t>(runs[r + 1].second) : holders.size();
        for (auto k = static_cast<std::size_t>(runs[r].second); k < last; ++k) {
          step();
          if (s.beatSeen[static_cast<std::size_t>(holders[k])] != epoch) tally(s.beatSeenLate, holders[k], uid);
        }
      }
    }
    settle(false);
    return result;
  }
};

PreparedScript::PreparedScript(std::vector<TokenList> beats) : index_(std::make_shared<Index>(std::move(beats))) {}

const std::vector<TokenList>& PreparedScript::beats() const { return index_->beats; }

double PreparedScript::matchCoverage(Tokens tokens) const { return index_->best<Coverage>(tokens); }

double PreparedScript::renditionScore(Tokens tokens) const { return index_->best<Rendition>(tokens); }

}  // namespace kestrane::TakeSelector
