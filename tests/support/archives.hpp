#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bm::test {

// A member of a zip made by zipArchive: deflated or stored, its sizes and CRC-32 before its
// name's data or in a descriptor after it (as a zip written to a pipe has them), or marked
// encrypted with its content kept as given.
struct ZipMember {
  std::string name;
  std::string content;
  bool deflated = true;
  bool descriptor = false;
  bool encrypted = false;
  bool zip64 = false;  // sizes in a zip64 extra field (and descriptor)
};

// A zip archive as zip tools write it: the members, the central directory, the end record (with
// the zip64 end record and its locator before it, given zip64End).
std::string zipArchive(const std::vector<ZipMember>& members, const std::string& comment = "",
                       bool zip64End = false);

// content as one gzip member, as gzip writes it.
std::string gzipped(const std::string& content);

// A configuration of about size bytes, different for each seed, ending with "end".
std::string configurationText(std::size_t size, unsigned seed);

}  // namespace bm::test
