#include "velmo-pack/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace velmo {
namespace {

constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kResourceDirectoryIndex = 2;
constexpr uint32_t kResourceSectionFlags = 0x40000040;  // initialised data, readable
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr char kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};

void putLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint64_t alignUp(uint64_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

struct Section {
  size_t headerAt = 0;
  uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawOffset = 0;
};

// The header fields this tool reads and writes, with their offsets.
struct PeLayout {
  size_t coffAt = 0;
  size_t optionalAt = 0;
  size_t checksumAt = 0;
  size_t sizeOfImageAt = 0;
  size_t directoriesAt = 0;
  uint32_t directoryCount = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0, sizeOfHeaders = 0;
  size_t sectionTableAt = 0;
  std::vector<Section> sections;
};

bool fits(ByteView image, uint64_t offset, uint64_t size) {
  return offset <= image.size() && size <= image.size() - offset;
}

bool parseLayout(ByteView image, PeLayout& pe) {
  if (!isPeImage(image)) return false;
  pe.coffAt = readLe32(image.data() + 0x3C) + size_t(4);
  if (!fits(image, pe.coffAt, 20)) return false;
  const uint8_t* coff = image.data() + pe.coffAt;
  uint16_t sectionCount = readLe16(coff + 2);
  uint16_t optionalSize = readLe16(coff + 16);
  pe.optionalAt = pe.coffAt + 20;
  if (!fits(image, pe.optionalAt, optionalSize) || optionalSize < 2) return false;
  const uint8_t* opt = image.data() + pe.optionalAt;
  uint16_t magic = readLe16(opt);
  size_t countAt;
  if (magic == 0x20B) {
    countAt = 108;
  } else if (magic == 0x10B) {
    countAt = 92;
  } else {
    return false;
  }
  if (optionalSize < countAt + 4) return false;
  pe.sectionAlignment = readLe32(opt + 32);
  pe.fileAlignment = readLe32(opt + 36);
  pe.sizeOfImageAt = pe.optionalAt + 56;
  pe.sizeOfHeaders = readLe32(opt + 60);
  pe.checksumAt = pe.optionalAt + 64;
  pe.directoryCount = readLe32(opt + countAt);
  pe.directoriesAt = pe.optionalAt + countAt + 4;
  if (pe.directoryCount > (optionalSize - countAt - 4) / 8) return false;
  if (pe.sectionAlignment == 0 || pe.fileAlignment == 0) return false;
  pe.sectionTableAt = pe.optionalAt + optionalSize;
  if (!fits(image, pe.sectionTableAt, uint64_t(sectionCount) * kSectionHeaderSize)) return false;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint8_t* h = image.data() + pe.sectionTableAt + i * kSectionHeaderSize;
    Section s;
    s.headerAt = pe.sectionTableAt + i * kSectionHeaderSize;
    s.virtualSize = readLe32(h + 8);
    s.virtualAddress = readLe32(h + 12);
    s.rawSize = readLe32(h + 16);
    s.rawOffset = readLe32(h + 20);
    pe.sections.push_back(s);
  }
  return true;
}

bool resourceDirectory(ByteView image, const PeLayout& pe, uint32_t& rva, uint32_t& size) {
  rva = size = 0;
  if (pe.directoryCount <= kResourceDirectoryIndex) return true;
  const uint8_t* d = image.data() + pe.directoriesAt + kResourceDirectoryIndex * 8;
  rva = readLe32(d);
  size = readLe32(d + 4);
  return true;
}

// File offset of an RVA range that lies inside one section's raw data.
bool rvaToOffset(ByteView image, const PeLayout& pe, uint32_t rva, uint32_t size, size_t& offset) {
  for (const Section& s : pe.sections) {
    if (rva < s.virtualAddress) continue;
    uint64_t inside = uint64_t(rva) - s.virtualAddress;
    if (inside + size > s.rawSize) continue;
    if (!fits(image, uint64_t(s.rawOffset) + inside, size)) return false;
    offset = size_t(s.rawOffset + inside);
    return true;
  }
  return false;
}

// The standard PE checksum: a folded 16-bit sum over the file, its checksum
// field zero, plus the file length.
uint32_t peChecksum(Bytes& image, size_t checksumAt) {
  putLe32(image.data() + checksumAt, 0);
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < image.size(); i += 2) {
    sum += readLe16(image.data() + i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  if (image.size() % 2) {
    sum += image.back();
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + image.size());
}

// The three-level resource tree (type, id, language) followed by the data,
// every offset relative to the section start and every data RVA based at
// sectionRva.
Bytes buildResourceSection(const std::vector<PeResource>& resources, uint32_t sectionRva) {
  std::map<uint16_t, std::map<uint16_t, ByteView>> tree;
  for (const PeResource& r : resources) tree[r.type][r.id] = r.data;
  auto directorySize = [](size_t entries) { return 16 + entries * 8; };

  // Layout: root, type directories, language directories, data entries, data.
  size_t typeDirsAt = directorySize(tree.size());
  size_t languageDirsAt = typeDirsAt;
  size_t leafCount = 0;
  for (const auto& [type, ids] : tree) {
    languageDirsAt += directorySize(ids.size());
    leafCount += ids.size();
  }
  size_t dataEntriesAt = languageDirsAt + leafCount * directorySize(1);
  size_t dataAt = alignUp(dataEntriesAt + leafCount * 16, 8);
  size_t total = dataAt;
  for (const auto& [type, ids] : tree) {
    for (const auto& [id, data] : ids) total = alignUp(total + data.size(), 8);
  }

  Bytes out(total, 0);
  auto writeDirectory = [&](size_t at, size_t entries) { putLe16(out.data() + at + 14, uint16_t(entries)); };
  auto writeEntry = [&](size_t directoryAt, size_t index, uint32_t id, uint32_t target) {
    putLe32(out.data() + directoryAt + 16 + index * 8, id);
    putLe32(out.data() + directoryAt + 16 + index * 8 + 4, target);
  };
  writeDirectory(0, tree.size());
  size_t typeAt = typeDirsAt, languageAt = languageDirsAt, entryAt = dataEntriesAt, blobAt = dataAt;
  size_t typeIndex = 0;
  for (const auto& [type, ids] : tree) {
    writeEntry(0, typeIndex++, type, uint32_t(typeAt) | kSubdirectoryBit);
    writeDirectory(typeAt, ids.size());
    size_t idIndex = 0;
    for (const auto& [id, data] : ids) {
      writeEntry(typeAt, idIndex++, id, uint32_t(languageAt) | kSubdirectoryBit);
      writeDirectory(languageAt, 1);
      writeEntry(languageAt, 0, 0, uint32_t(entryAt));  // language neutral
      putLe32(out.data() + entryAt, uint32_t(sectionRva + blobAt));
      putLe32(out.data() + entryAt + 4, uint32_t(data.size()));
      if (!data.empty()) std::memcpy(out.data() + blobAt, data.data(), data.size());
      languageAt += directorySize(1);
      entryAt += 16;
      blobAt = alignUp(blobAt + data.size(), 8);
    }
    typeAt += directorySize(ids.size());
  }
  return out;
}

// Entry of a resource directory at `at` (section offset) with the given id;
// its target offset, or false.
bool findEntry(ByteView section, size_t at, uint32_t id, bool first, uint32_t& target) {
  if (!fits(section, at, 16)) return false;
  size_t named = readLe16(section.data() + at + 12);
  size_t ids = readLe16(section.data() + at + 14);
  if (!fits(section, at + 16, (named + ids) * 8)) return false;
  for (size_t i = first ? 0 : named; i < named + ids; ++i) {
    const uint8_t* e = section.data() + at + 16 + i * 8;
    if (first || readLe32(e) == id) {
      target = readLe32(e + 4);
      return true;
    }
  }
  return false;
}

}  // namespace

bool isPeImage(ByteView image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
  uint32_t peAt = readLe32(image.data() + 0x3C);
  return fits(image, peAt, 4) && std::memcmp(image.data() + peAt, "PE\0\0", 4) == 0;
}

bool peSetResources(Bytes& image, const std::vector<PeResource>& resources, std::string& error) {
  PeLayout pe;
  if (!parseLayout(image, pe)) return error = "not a well-formed Windows executable", false;
  if (pe.directoryCount <= kResourceDirectoryIndex) return error = "the executable has no resource directory slot", false;
  uint32_t oldRva = 0, oldSize = 0;
  resourceDirectory(image, pe, oldRva, oldSize);

  Bytes out = image;
  if (oldRva != 0) {
    // Only a resource section that is the last one, in the image and in the
    // file, can be dropped without moving anything else.
    const Section& last = pe.sections.back();
    bool lastInFile = true;
    for (const Section& s : pe.sections) {
      if (&s != &last && s.rawSize && s.rawOffset >= last.rawOffset) lastInFile = false;
      if (&s != &last && s.virtualAddress >= last.virtualAddress) lastInFile = false;
    }
    if (pe.sections.empty() || oldRva != last.virtualAddress ||
        std::memcmp(out.data() + last.headerAt, kResourceSectionName, 8) != 0 || !lastInFile ||
        uint64_t(last.rawOffset) + last.rawSize < out.size()) {
      return error = "the executable already has resources that cannot be replaced", false;
    }
    out.resize(last.rawOffset);
    std::memset(out.data() + last.headerAt, 0, kSectionHeaderSize);
    pe.sections.pop_back();
  }

  size_t newHeaderAt = pe.sectionTableAt + pe.sections.size() * kSectionHeaderSize;
  uint64_t firstRaw = pe.sizeOfHeaders;
  for (const Section& s : pe.sections) {
    if (s.rawSize) firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
  }
  if (newHeaderAt + kSectionHeaderSize > firstRaw) return error = "no room for another section header", false;

  uint64_t virtualEnd = alignUp(pe.sizeOfHeaders, pe.sectionAlignment);
  for (const Section& s : pe.sections) {
    virtualEnd = std::max<uint64_t>(virtualEnd, uint64_t(s.virtualAddress) + std::max(s.virtualSize, s.rawSize));
  }
  uint64_t rva = alignUp(virtualEnd, pe.sectionAlignment);
  Bytes section = buildResourceSection(resources, uint32_t(rva));
  uint64_t rawOffset = alignUp(out.size(), pe.fileAlignment);
  uint64_t rawSize = alignUp(section.size(), pe.fileAlignment);
  uint64_t imageEnd = alignUp(rva + section.size(), pe.sectionAlignment);
  if (imageEnd > 0xFFFFFFFFu || rawOffset + rawSize > 0xFFFFFFFFu) return error = "the resources are too large", false;

  out.resize(size_t(rawOffset), 0);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(size_t(rawOffset + rawSize), 0);
  uint8_t* h = out.data() + newHeaderAt;
  std::memcpy(h, kResourceSectionName, 8);
  putLe32(h + 8, uint32_t(section.size()));
  putLe32(h + 12, uint32_t(rva));
  putLe32(h + 16, uint32_t(rawSize));
  putLe32(h + 20, uint32_t(rawOffset));
  putLe32(h + 36, kResourceSectionFlags);
  putLe16(out.data() + pe.coffAt + 2, uint16_t(pe.sections.size() + 1));
  putLe32(out.data() + pe.sizeOfImageAt, uint32_t(imageEnd));
  putLe32(out.data() + pe.directoriesAt + kResourceDirectoryIndex * 8, uint32_t(rva));
  putLe32(out.data() + pe.directoriesAt + kResourceDirectoryIndex * 8 + 4, uint32_t(section.size()));
  putLe32(out.data() + pe.checksumAt, peChecksum(out, pe.checksumAt));
  image = std::move(out);
  return true;
}

bool peFindResource(ByteView image, uint16_t type, uint16_t id, ByteView& data) {
  PeLayout pe;
  if (!parseLayout(image, pe)) return false;
  uint32_t rva = 0, size = 0;
  resourceDirectory(image, pe, rva, size);
  size_t at = 0;
  if (rva == 0 || !rvaToOffset(image, pe, rva, size, at)) return false;
  ByteView section = image.subspan(at, size);
  uint32_t target = 0;
  // type -> id -> first language -> data entry
  if (!findEntry(section, 0, type, false, target) || !(target & kSubdirectoryBit)) return false;
  if (!findEntry(section, target & ~kSubdirectoryBit, id, false, target) || !(target & kSubdirectoryBit)) return false;
  if (!findEntry(section, target & ~kSubdirectoryBit, 0, true, target) || (target & kSubdirectoryBit)) return false;
  if (!fits(section, target, 16)) return false;
  uint32_t dataRva = readLe32(section.data() + target);
  uint32_t dataSize = readLe32(section.data() + target + 4);
  size_t dataAt = 0;
  if (!rvaToOffset(image, pe, dataRva, dataSize, dataAt)) return false;
  data = image.subspan(dataAt, dataSize);
  return true;
}

}  // namespace velmo
