#include "velmo-pack/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace velmo {
namespace {

constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kResourceDirectoryIndex = 2;
constexpr size_t kSecurityDirectoryIndex = 4;  // the Authenticode signature, past the sections
constexpr uint32_t kResourceSectionFlags = 0x40000040;  // initialised data, readable
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr char kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
constexpr char kOldResourceSectionName[8] = {'.', 'o', 'l', 'd', 'r', 's', 'r', 'c'};

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

bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

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
  // The loader's own limits: powers of two, file alignment at most 64 KiB.
  // Anything else would make the writer pad the file by gigabytes.
  if (!isPowerOfTwo(pe.sectionAlignment) || !isPowerOfTwo(pe.fileAlignment) || pe.fileAlignment > 0x10000 ||
      pe.sectionAlignment > (1u << 28)) {
    return false;
  }
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

// A directory entry's key: a number, or a name (its UTF-16LE code units as
// stored). Named entries sort before numbered ones, as the format wants.
struct ResourceKey {
  bool named = false;
  uint32_t id = 0;
  Bytes name;
  bool operator<(const ResourceKey& o) const {
    if (named != o.named) return named;
    return named ? name < o.name : id < o.id;
  }
};

struct ResourceLeaf {
  uint32_t codePage = 0;
  ByteView data;
};

// type -> name -> language -> data
using ResourceTree = std::map<ResourceKey, std::map<ResourceKey, std::map<ResourceKey, ResourceLeaf>>>;

// Bounds on what an executable's own resource tree may hold, so that a
// damaged one cannot make the writer loop or allocate without end.
constexpr size_t kMaxResourceEntries = 1u << 16;

struct TreeReader {
  ByteView image;
  const PeLayout& pe;
  ByteView section;
  size_t entriesSeen = 0;
  uint64_t dataBytes = 0, copiedBytes = 0;

  bool key(uint32_t raw, ResourceKey& k) {
    k.named = raw & kSubdirectoryBit;
    if (!k.named) {
      k.id = raw;
      return true;
    }
    size_t at = raw & ~kSubdirectoryBit;
    if (!fits(section, at, 2)) return false;
    size_t units = readLe16(section.data() + at);
    if (!fits(section, at + 2, units * 2)) return false;
    // Names, like data, cannot add up to more than the file.
    copiedBytes += units * 2;
    if (copiedBytes > image.size()) return false;
    k.name.assign(section.begin() + at + 2, section.begin() + at + 2 + units * 2);
    return true;
  }

  // The entries of the directory at `at`: key and raw target.
  bool entries(size_t at, std::vector<std::pair<ResourceKey, uint32_t>>& out) {
    if (!fits(section, at, 16)) return false;
    size_t count = size_t(readLe16(section.data() + at + 12)) + readLe16(section.data() + at + 14);
    if (!fits(section, at + 16, count * 8)) return false;
    entriesSeen += count;
    if (entriesSeen > kMaxResourceEntries) return false;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = section.data() + at + 16 + i * 8;
      ResourceKey k;
      if (!key(readLe32(e), k)) return false;
      out.emplace_back(std::move(k), readLe32(e + 4));
    }
    return true;
  }

  bool read(ResourceTree& tree) {
    std::vector<std::pair<ResourceKey, uint32_t>> types;
    if (!entries(0, types)) return false;
    for (auto& [type, typeTarget] : types) {
      if (!(typeTarget & kSubdirectoryBit)) return false;
      std::vector<std::pair<ResourceKey, uint32_t>> names;
      if (!entries(typeTarget & ~kSubdirectoryBit, names)) return false;
      for (auto& [name, nameTarget] : names) {
        if (!(nameTarget & kSubdirectoryBit)) return false;
        std::vector<std::pair<ResourceKey, uint32_t>> languages;
        if (!entries(nameTarget & ~kSubdirectoryBit, languages)) return false;
        for (auto& [language, leafAt] : languages) {
          if ((leafAt & kSubdirectoryBit) || !fits(section, leafAt, 16)) return false;
          const uint8_t* d = section.data() + leafAt;
          uint32_t dataSize = readLe32(d + 4);
          size_t dataAt = 0;
          if (!rvaToOffset(image, pe, readLe32(d), dataSize, dataAt)) return false;
          // Distinct resources cannot add up to more than the file.
          dataBytes += dataSize;
          if (dataBytes > image.size()) return false;
          tree[type][name][language] = {readLe32(d + 8), image.subspan(dataAt, dataSize)};
        }
      }
    }
    return true;
  }
};

// The three-level resource tree (type, name, language) in one section:
// directories, name strings, data entries, then the data, every offset
// relative to the section start and every data RVA based at sectionRva.
// Empty when it would not fit a section.
Bytes buildResourceSection(const ResourceTree& tree, uint32_t sectionRva) {
  auto directorySize = [](size_t entries) { return 16 + entries * 8; };
  uint64_t directoriesEnd = directorySize(tree.size());
  uint64_t stringsSize = 0, leafCount = 0, dataSize = 0;
  auto addKey = [&](const ResourceKey& k) {
    if (k.named) stringsSize += 2 + k.name.size();
  };
  for (const auto& [type, names] : tree) {
    addKey(type);
    directoriesEnd += directorySize(names.size());
    for (const auto& [name, languages] : names) {
      addKey(name);
      directoriesEnd += directorySize(languages.size());
      for (const auto& [language, leaf] : languages) {
        addKey(language);
        ++leafCount;
        dataSize += alignUp(leaf.data.size(), 8);
      }
    }
  }
  uint64_t stringsAt = directoriesEnd;
  uint64_t dataEntriesAt = alignUp(stringsAt + stringsSize, 4);
  uint64_t dataAt = alignUp(dataEntriesAt + leafCount * 16, 8);
  uint64_t total = dataAt + dataSize;
  if (total + sectionRva > 0xFFFFFFFFu) return {};

  Bytes out(size_t(total), 0);
  size_t directoryAt = 0, nextDirectoryAt = 0, stringAt = size_t(stringsAt), entryAt = size_t(dataEntriesAt),
         blobAt = size_t(dataAt);
  auto keyField = [&](const ResourceKey& k) -> uint32_t {
    if (!k.named) return k.id;
    uint32_t field = uint32_t(stringAt) | kSubdirectoryBit;
    putLe16(out.data() + stringAt, uint16_t(k.name.size() / 2));
    std::memcpy(out.data() + stringAt + 2, k.name.data(), k.name.size());
    stringAt += 2 + k.name.size();
    return field;
  };
  // Reserves a directory of `keys` and writes its header; entries follow.
  auto openDirectory = [&](size_t named, size_t numbered) {
    size_t at = nextDirectoryAt;
    putLe16(out.data() + at + 12, uint16_t(named));
    putLe16(out.data() + at + 14, uint16_t(numbered));
    nextDirectoryAt += directorySize(named + numbered);
    return at;
  };
  auto countNamed = [](const auto& map) {
    size_t n = 0;
    for (const auto& [k, v] : map) n += k.named;
    return n;
  };
  auto writeEntry = [&](size_t at, size_t index, uint32_t keyValue, uint32_t target) {
    putLe32(out.data() + at + 16 + index * 8, keyValue);
    putLe32(out.data() + at + 16 + index * 8 + 4, target);
  };
  directoryAt = openDirectory(countNamed(tree), tree.size() - countNamed(tree));
  size_t typeIndex = 0;
  for (const auto& [type, names] : tree) {
    size_t typeAt = openDirectory(countNamed(names), names.size() - countNamed(names));
    writeEntry(directoryAt, typeIndex++, keyField(type), uint32_t(typeAt) | kSubdirectoryBit);
    size_t nameIndex = 0;
    for (const auto& [name, languages] : names) {
      size_t nameAt = openDirectory(countNamed(languages), languages.size() - countNamed(languages));
      writeEntry(typeAt, nameIndex++, keyField(name), uint32_t(nameAt) | kSubdirectoryBit);
      size_t languageIndex = 0;
      for (const auto& [language, leaf] : languages) {
        writeEntry(nameAt, languageIndex++, keyField(language), uint32_t(entryAt));
        putLe32(out.data() + entryAt, uint32_t(sectionRva + blobAt));
        putLe32(out.data() + entryAt + 4, uint32_t(leaf.data.size()));
        putLe32(out.data() + entryAt + 8, leaf.codePage);
        if (!leaf.data.empty()) std::memcpy(out.data() + blobAt, leaf.data.data(), leaf.data.size());
        entryAt += 16;
        blobAt = size_t(alignUp(blobAt + leaf.data.size(), 8));
      }
    }
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
  // The signature covers every byte before it and must end the file: a new
  // section would leave it invalid, which Windows treats worse than none.
  if (pe.directoryCount > kSecurityDirectoryIndex &&
      (readLe32(image.data() + pe.directoriesAt + kSecurityDirectoryIndex * 8) != 0 ||
       readLe32(image.data() + pe.directoriesAt + kSecurityDirectoryIndex * 8 + 4) != 0)) {
    return error = "the executable is signed; embed into the unsigned patcher and sign the result", false;
  }
  const size_t headersEnd = pe.sectionTableAt + pe.sections.size() * kSectionHeaderSize;
  uint32_t oldRva = 0, oldSize = 0;
  resourceDirectory(image, pe, oldRva, oldSize);

  // The resources the image carries, less those being replaced.
  ResourceTree tree;
  const Section* oldSection = nullptr;
  if (oldRva != 0) {
    size_t at = 0;
    if (!rvaToOffset(image, pe, oldRva, oldSize, at)) return error = "the executable's resources are damaged", false;
    TreeReader reader{image, pe, ByteView(image).subspan(at, oldSize)};
    if (!reader.read(tree)) return error = "the executable's resources are damaged", false;
    for (const Section& s : pe.sections) {
      if (oldRva >= s.virtualAddress && oldRva - s.virtualAddress < s.rawSize) oldSection = &s;
    }
  }
  for (const PeResource& r : resources) {
    auto type = tree.find(ResourceKey{false, r.type, {}});
    if (type != tree.end()) type->second.erase(ResourceKey{false, r.id, {}});
  }
  for (const PeResource& r : resources) tree[ResourceKey{false, r.type, {}}][ResourceKey{false, r.id, {}}][ResourceKey{}] = {0, r.data};
  for (auto it = tree.begin(); it != tree.end();) it = it->second.empty() ? tree.erase(it) : std::next(it);

  // A resource section that is last in the file and in memory, starts at the
  // directory and ends the file is dropped and written afresh; any other
  // stays in place.
  Bytes out = image;
  bool dropLast = false;
  if (oldSection != nullptr && oldSection == &pe.sections.back()) {
    const Section& last = *oldSection;
    dropLast = oldRva == last.virtualAddress && std::memcmp(image.data() + last.headerAt, kResourceSectionName, 8) == 0 &&
               last.rawOffset >= headersEnd && uint64_t(last.rawOffset) + last.rawSize == image.size();
    for (const Section& s : pe.sections) {
      if (&s == &last) continue;
      if (s.rawSize && uint64_t(s.rawOffset) + s.rawSize > last.rawOffset) dropLast = false;
      if (uint64_t(s.virtualAddress) + std::max(s.virtualSize, s.rawSize) > last.virtualAddress) dropLast = false;
    }
  }
  // The dropped section's bytes stay readable in `image` until the new
  // section is built from them.
  size_t keptEnd = image.size();
  if (dropLast) {
    keptEnd = pe.sections.back().rawOffset;
    pe.sections.pop_back();
  }

  size_t newHeaderAt = pe.sectionTableAt + pe.sections.size() * kSectionHeaderSize;
  uint64_t firstRaw = pe.sizeOfHeaders;
  for (const Section& s : pe.sections) {
    if (s.rawSize) firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
  }
  if (newHeaderAt + kSectionHeaderSize > firstRaw || newHeaderAt + kSectionHeaderSize > keptEnd ||
      pe.sections.size() >= 0xFFFF) {
    return error = "no room for another section header", false;
  }

  uint64_t virtualEnd = alignUp(pe.sizeOfHeaders, pe.sectionAlignment);
  for (const Section& s : pe.sections) {
    virtualEnd = std::max<uint64_t>(virtualEnd, uint64_t(s.virtualAddress) + std::max(s.virtualSize, s.rawSize));
  }
  uint64_t rva = alignUp(virtualEnd, pe.sectionAlignment);
  if (rva > 0xFFFFFFFFu) return error = "the resources are too large", false;
  Bytes section = buildResourceSection(tree, uint32_t(rva));
  uint64_t rawOffset = alignUp(keptEnd, pe.fileAlignment);
  uint64_t rawSize = alignUp(section.size(), pe.fileAlignment);
  uint64_t imageEnd = alignUp(rva + section.size(), pe.sectionAlignment);
  if (section.empty() || imageEnd > 0xFFFFFFFFu || rawOffset + rawSize > 0xFFFFFFFFu) {
    return error = "the resources are too large", false;
  }

  out.resize(keptEnd);
  if (dropLast) std::memset(out.data() + newHeaderAt, 0, kSectionHeaderSize);
  // A linker's resource section left in place is renamed, so that tools
  // which look for ".rsrc" by name show the resources in force.
  if (oldSection != nullptr && !dropLast &&
      std::memcmp(out.data() + oldSection->headerAt, kResourceSectionName, 8) == 0) {
    std::memcpy(out.data() + oldSection->headerAt, kOldResourceSectionName, 8);
  }
  out.resize(size_t(rawOffset), 0);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(size_t(rawOffset + rawSize), 0);
  uint8_t* h = out.data() + newHeaderAt;
  std::memset(h, 0, kSectionHeaderSize);
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
