#include "support/archives.hpp"

#include <zlib.h>

#include <cstdint>
#include <stdexcept>

namespace bm::test {
namespace {

void put16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>((value >> 8) & 0xff);
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xffff);
  put16(out, value >> 16);
}

void put64(std::string& out, std::uint64_t value) {
  put32(out, static_cast<std::uint32_t>(value));
  put32(out, static_cast<std::uint32_t>(value >> 32));
}

// deflate with windowBits: raw (-15) for a zip member, gzip (31) for a gzip file.
std::string compressed(const std::string& content, int windowBits) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&z, content.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

struct Written {
  std::uint32_t crc;
  std::uint32_t compressedSize;
  std::uint32_t offset;
};

// The fields a local header and a central entry share, from "version needed" to the name's size.
void putCommon(std::string& out, const ZipMember& member, const Written& w, bool sizes) {
  const std::uint32_t saturated = 0xffffffff;
  put16(out, 20);
  put16(out, (member.descriptor ? 0x8 : 0) | (member.encrypted ? 0x1 : 0));
  put16(out, member.deflated ? 8 : 0);
  put16(out, 0);     // 00:00
  put16(out, 0x21);  // 1980-01-01
  put32(out, sizes ? w.crc : 0);
  put32(out, !sizes ? 0 : member.zip64 ? saturated : w.compressedSize);
  put32(out, !sizes         ? 0
             : member.zip64 ? saturated
                            : static_cast<std::uint32_t>(member.content.size()));
  put16(out, static_cast<unsigned>(member.name.size()));
  put16(out, member.zip64 ? 20 : 0);
}

// The zip64 extra field: the size, then the compressed size.
void putZip64Extra(std::string& out, const ZipMember& member, const Written& w) {
  if (!member.zip64) return;
  put16(out, 0x0001);
  put16(out, 16);
  put64(out, member.content.size());
  put64(out, w.compressedSize);
}

}  // namespace

std::string zipArchive(const std::vector<ZipMember>& members, const std::string& comment,
                       bool zip64End) {
  std::string out;
  std::vector<Written> written;
  for (const ZipMember& m : members) {
    const std::string data = m.deflated ? compressed(m.content, -15) : m.content;
    const Written w{static_cast<std::uint32_t>(crc32_z(
                        0, reinterpret_cast<const Bytef*>(m.content.data()), m.content.size())),
                    static_cast<std::uint32_t>(data.size()),
                    static_cast<std::uint32_t>(out.size())};
    put32(out, 0x04034b50);
    putCommon(out, m, w, !m.descriptor);
    out += m.name;
    putZip64Extra(out, m, w);
    out += data;
    if (m.descriptor) {
      put32(out, 0x08074b50);
      put32(out, w.crc);
      if (m.zip64) {
        put64(out, w.compressedSize);
        put64(out, m.content.size());
      } else {
        put32(out, w.compressedSize);
        put32(out, static_cast<std::uint32_t>(m.content.size()));
      }
    }
    written.push_back(w);
  }
  const auto centralStart = static_cast<std::uint32_t>(out.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    put32(out, 0x02014b50);
    put16(out, 20);  // made by
    putCommon(out, members[i], written[i], true);
    put16(out, 0);  // comment
    put16(out, 0);  // disk
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, written[i].offset);
    out += members[i].name;
    putZip64Extra(out, members[i], written[i]);
  }
  const auto centralSize = static_cast<std::uint32_t>(out.size()) - centralStart;
  if (zip64End) {
    const std::uint64_t at = out.size();
    put32(out, 0x06064b50);
    put64(out, 44);
    put16(out, 45);
    put16(out, 45);
    put32(out, 0);
    put32(out, 0);
    put64(out, members.size());
    put64(out, members.size());
    put64(out, centralSize);
    put64(out, centralStart);
    put32(out, 0x07064b50);
    put32(out, 0);
    put64(out, at);
    put32(out, 1);
  }
  put32(out, 0x06054b50);
  put32(out, 0);
  put16(out, zip64End ? 0xffff : static_cast<unsigned>(members.size()));
  put16(out, zip64End ? 0xffff : static_cast<unsigned>(members.size()));
  put32(out, zip64End ? 0xffffffff : centralSize);
  put32(out, zip64End ? 0xffffffff : centralStart);
  put16(out, static_cast<unsigned>(comment.size()));
  return out + comment;
}

std::string gzipped(const std::string& content) { return compressed(content, 31); }

std::string configurationText(std::size_t size, unsigned seed) {
  std::string text = "!\nhostname sw" + std::to_string(seed) + "\n!\n";
  unsigned state = seed * 2654435761U + 1;
  for (unsigned port = 1; text.size() + 5 < size; ++port) {
    state = state * 1103515245U + 12345U;
    text += "interface GigabitEthernet1/0/" + std::to_string(port) + "\n description uplink " +
            std::to_string(state >> 20) + "\n switchport access vlan " +
            std::to_string(state % 4000 + 1) + "\n ip address 10." + std::to_string(state >> 24) +
            "." + std::to_string((state >> 8) & 0xff) + ".1 255.255.255.0\n!\n";
  }
  text.resize(size > 5 ? size - 5 : 0, '!');
  return text + "\nend\n";
}

}  // namespace bm::test
