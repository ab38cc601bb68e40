#include "catalogue/listing.hpp"

#include <algorithm>
#include <functional>
#include <limits>
#include <new>
#include <numeric>
#include <utility>

#include "base/failure.hpp"

namespace bm {
namespace {

// More than this many entries are not reserved ahead, whatever a file system says of a
// directory's size: past it, the table grows as it fills.
constexpr std::size_t kMostReserved = std::size_t{1} << 22;

// The smallest a directory entry takes on disk (ext4: eight bytes and a name of at least one,
// rounded up to four), so that a directory's size over it is at least its number of entries.
constexpr std::size_t kSmallestDirectoryEntry = 12;

constexpr std::uint64_t kTagMask = 0xFFFFFFFF00000000ULL;

}  // namespace

std::uint32_t foldedShape(std::uint64_t shape) {
  if (shape == 0) return 0;
  return static_cast<std::uint32_t>(shape ^ (shape >> 32)) | 1;
}

std::uint32_t TextTable::append(std::string_view text) {
  if (text_.size() + text.size() > std::numeric_limits<std::uint32_t>::max() ||
      starts_.size() > std::numeric_limits<std::uint32_t>::max() - 1) {
    throw Failure(FailureKind::System, "a listagem passa de 4 GiB de nomes");
  }
  text_.append(text);
  starts_.push_back(static_cast<std::uint32_t>(text_.size()));
  return size() - 1;
}

std::uint64_t TextTable::hashOf(std::string_view text) {
  return std::hash<std::string_view>()(text);
}

void TextTable::prefetch(std::uint64_t hash, int step) const {
  if (slots_.empty()) return;
  const std::uint64_t& slot = slots_[hash & (slots_.size() - 1)];
  if (step == 0) {
    __builtin_prefetch(&slot);
    return;
  }
  if (slot == 0 || (slot & kTagMask) != (hash & kTagMask)) return;
  const auto id = static_cast<std::uint32_t>(slot) - 1;
  if (step == 1) {
    __builtin_prefetch(&starts_[id]);
  } else {
    __builtin_prefetch(text_.data() + starts_[id]);
  }
}

std::size_t TextTable::slotOf(std::string_view text, std::uint64_t hash) const {
  const std::uint64_t tag = hash & kTagMask;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const std::uint64_t slot = slots_[at];
    if (slot == 0) return at;
    if ((slot & kTagMask) == tag && (*this)[static_cast<std::uint32_t>(slot) - 1] == text) {
      return at;
    }
  }
}

std::uint32_t TextTable::intern(std::string_view text, std::uint64_t hash) {
  if (2 * (std::size_t{size()} + 1) > slots_.size()) {
    rehash(std::max<std::size_t>(64, 2 * slots_.size()));
  }
  std::uint64_t& slot = slots_[slotOf(text, hash)];
  if (slot == 0) slot = (hash & kTagMask) | (append(text) + 1);
  return static_cast<std::uint32_t>(slot) - 1;
}

std::optional<std::uint32_t> TextTable::find(std::string_view text) const {
  if (slots_.empty()) return std::nullopt;
  const std::uint64_t slot = slots_[slotOf(text, hashOf(text))];
  if (slot == 0) return std::nullopt;
  return static_cast<std::uint32_t>(slot) - 1;
}

void TextTable::rehash(std::size_t slots) {
  slots_.assign(slots, 0);
  const std::size_t mask = slots - 1;
  for (std::uint32_t id = 0; id < size(); ++id) {
    const std::uint64_t hash = hashOf((*this)[id]);
    std::size_t at = hash & mask;
    while (slots_[at] != 0) at = (at + 1) & mask;
    slots_[at] = (hash & kTagMask) | (id + 1);
  }
}

void TextTable::reserve(std::size_t texts, std::size_t bytes) {
  starts_.reserve(texts + 1);
  text_.reserve(bytes);
}

std::uint32_t Listing::date(std::string_view text) {
  const std::uint32_t id = dates.intern(text);
  if (id == days.size()) days.push_back(parseDate(text));
  return id;
}

std::string Listing::shownDate(const ListedEntry& entry) const {
  if (scheme == NamingScheme::NameFields && days[entry.date]) return formatDate(*days[entry.date]);
  return std::string(dates[entry.date]);
}

void Listing::reserve(std::size_t directoryBytes) {
  const std::size_t most = std::min(directoryBytes / kSmallestDirectoryEntry, kMostReserved);
  const std::size_t bytes = std::min(directoryBytes, kMostReserved * kSmallestDirectoryEntry);
  // Only a hint: where the system will not promise the memory (strict overcommit), the tables
  // grow as they fill instead.
  try {
    entries.reserve(most);
    // A modification-time host is its whole name, upper-cased: about as long as the name.
    if (scheme == NamingScheme::ModificationTime) hosts.reserve(most, bytes);
    if (keepsNames) names.reserve(most, bytes);
  } catch (const std::bad_alloc&) {
  }
}

std::vector<std::uint32_t> listingOrder(const Listing& listing) {
  std::vector<std::uint32_t> order(listing.entries.size());
  std::iota(order.begin(), order.end(), 0U);
  return order;
}

std::vector<std::uint32_t> orderByText(const Listing& listing, const TextTable& table,
                                       std::uint32_t ListedEntry::*key, TextOrder direction) {
  std::vector<std::uint32_t> texts(table.size());
  std::iota(texts.begin(), texts.end(), 0U);
  std::sort(texts.begin(), texts.end(), [&table, direction](std::uint32_t a, std::uint32_t b) {
    return direction == TextOrder::Ascending ? table[a] < table[b] : table[a] > table[b];
  });
  // start[r] is where the entries of the text of rank r go, once counted.
  std::vector<std::uint32_t> rank(texts.size());
  for (std::uint32_t r = 0; r < texts.size(); ++r) rank[texts[r]] = r;
  std::vector<std::uint32_t> start(rank.size() + 1, 0);
  for (const ListedEntry& entry : listing.entries) ++start[rank[entry.*key] + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  std::vector<std::uint32_t> order(listing.entries.size());
  for (std::uint32_t i = 0; i < listing.entries.size(); ++i) {
    order[start[rank[listing.entries[i].*key]]++] = i;
  }
  return order;
}

Listing listingOf(const std::vector<BackupEntry>& entries, NamingScheme scheme) {
  Listing listing;
  listing.scheme = scheme;
  listing.entries.reserve(entries.size());
  for (const BackupEntry& entry : entries) {
    ListedEntry listed;
    listed.modified = entry.dataModificacao;
    listed.host = scheme == NamingScheme::NameFields ? listing.hosts.intern(entry.nomeHost)
                                                     : listing.hosts.append(entry.nomeHost);
    listed.date = listing.date(entry.dataHost);
    listed.shape = foldedShape(entry.nameShape);
    listed.name = entry.fileIndex;
    listing.entries.push_back(listed);
  }
  return listing;
}

Listing listingOf(const ScanResult& scan) {
  Listing listing = listingOf(scan.entries, scan.scheme);
  listing.undated = scan.undated;
  listing.keepsNames = !scan.fileNames.empty();
  for (const std::string& name : scan.fileNames) listing.names.append(name);
  return listing;
}

std::vector<BackupEntry> chosenEntries(const std::vector<BackupEntry>& entries,
                                       const Listing& listing,
                                       const std::vector<std::uint32_t>& chosen) {
  std::vector<BackupEntry> out;
  out.reserve(chosen.size());
  for (const std::uint32_t i : chosen) {
    out.push_back(entries[i]);
    out.back().dataHost = listing.shownDate(listing.entries[i]);
  }
  return out;
}

ScanResult scanResultOf(Listing listing) {
  ScanResult result{listing.scheme, {}, std::move(listing.undated)};
  result.entries.reserve(listing.entries.size());
  for (const ListedEntry& entry : listing.entries) {
    result.entries.push_back(
        {std::string(listing.hosts[entry.host]), std::string(listing.dates[entry.date]),
         entry.modified, 0, entry.name,
         listing.scheme == NamingScheme::NameFields ? listing.days[entry.date] : std::nullopt,
         entry.shape});
  }
  for (std::uint32_t i = 0; i < listing.names.size(); ++i) {
    result.fileNames.emplace_back(listing.names[i]);
  }
  return result;
}

}  // namespace bm
