// Build step that completes the type library written by widl.
//
//   qx_typelib_finish <widl output.tlb> <final.tlb>
//
// widl leaves two things undone that the library must carry:
//  1. A defaultvalue(0) on a void* parameter (ITraverse::Traverse) is stored as an inline
//     VT_VOID constant. oleaut32 cannot turn that into a VARIANT, so GetFuncDesc fails for the
//     whole member and nobody can read or call it through type information. The constant is
//     rewritten as VT_I4 0, the form widl already uses for the other pointer defaults.
//  2. widl refuses helpstring on enumeration members, so the members of cmeErrorConstants get
//     their help strings here.
//
// Wine's oleaut32 would let us do (2) through ICreateTypeLib2 on the loaded library, but its
// SaveAllChanges crashes on libraries with dual interfaces (the IDispatch members it adds to the
// dispatch half carry no entry string). So the tool edits the MSFT file itself: it appends the
// new strings to the string segment, rebuilds the member block of cmeErrorConstants with larger
// variable records, and moves every absolute file offset behind the two insertion points. Only
// two kinds of absolute offsets exist in the format: the segment directory and the member-block
// offset of each type info; everything else is relative to its segment.
//
// Afterwards the result is loaded with oleaut32 and checked: every member of every type must be
// readable and every cmeErrorConstants member must show its help string. Any failure stops the
// build with a message; a library that half works is worse than none.

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Help strings of the cmeErrorConstants members: the text each code reports at run time.
const std::map<std::string, std::string> kErrorConstantHelp = {
    {"cmeUNKNOWNREGTYPE", "Registry data-type indicator was not recognized."},
    {"cmeUNSUPPORTEDREGTYPE", "NamedValues cannot load this type of data from the Registry."},
    {"cmeINVALIDOPTIONS", "Invalid option, or combination of options, for this operation."},
    {"cmeOPENINGREGKEY", "Error opening registry key."},
    {"cmeREGKEYEXISTS", "Registry key already exists."},
    {"cmeNVNOTORPHAN", "Cannot insert NamedValue because it already has a parent"},
    {"cmeQXERRORSCREATE", "Error creating QXErrors object."},
    {"cmeRESTORESERVERS", "Error restoring servers from persistence string."},
    {"cmeRESTOREOBJECT", "Error restoring object from persistence string."},
    {"cmeASYNCHINPROGRESS", "Asynchronous call is already in progress."},
    {"cmeASYNCHTIMEOUT", "Timed out waiting for a secondary asynch object to complete."},
    {"cmeW32EVENTCREATE", "Failed to create a win32 event."},
    {"cmeASYNCHCOMPLETE", "Asynchronous call is already complete."},
    {"cmeASYNCHNOTINPROGRESS", "Asynchronous result cannot be set unless the call is in progress."},
    {"cmeNAMEDVALUES", "NAMEDVALUES error"},
    {"cmeMTNVS", "MTNVS error."},
    {"cmeMTNV", "MTNV error."},
    {"cmeMTNVSLOCKWAITFOREVERTIMEOUT", "MTNVS couldn't get it's own lock while waiting forever."},
    {"cmeMTNVEXCEEDPARENTLOCKATTEMPTMAX", "MTNV tried to get parent lock more than the maximum number of times."},
};

const char kErrorEnumName[] = "cmeErrorConstants";

// ---------------------------------------------------------------- MSFT layout

constexpr uint32_t kMsftMagic = 0x5446534D;  // "MSFT"
constexpr size_t kHeaderSize = 0x54;
constexpr uint32_t kHelpDllFlag = 0x100;
constexpr size_t kSegmentCount = 15;
constexpr size_t kSegmentEntrySize = 16;  // offset, length, two reserved ints
constexpr size_t kSegTypeInfo = 0;
constexpr size_t kSegNames = 7;
constexpr size_t kSegStrings = 8;
constexpr size_t kTypeInfoMemOffset = 0x04;
constexpr size_t kTypeInfoElements = 0x18;  // low word functions, high word variables
constexpr size_t kTypeInfoNameOffset = 0x34;
constexpr size_t kNameIntroSize = 12;  // href, hash link, length (low byte)
constexpr uint32_t kFuncHasDefaults = 0x1000;

class TypeLibFile {
 public:
  explicit TypeLibFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    if (bytes_.size() < kHeaderSize || Get(0) != kMsftMagic) throw std::runtime_error("not an MSFT type library");
  }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  uint32_t Get(size_t at) const {
    if (at + 4 > bytes_.size()) throw std::runtime_error("offset beyond the end of the file");
    uint32_t v;
    std::memcpy(&v, &bytes_[at], 4);
    return v;
  }
  void Put(size_t at, uint32_t v) {
    if (at + 4 > bytes_.size()) throw std::runtime_error("offset beyond the end of the file");
    std::memcpy(&bytes_[at], &v, 4);
  }

  size_t TypeInfoCount() const { return Get(0x20); }

  size_t SegmentDirectory() const {
    const size_t helpDll = (Get(0x14) & kHelpDllFlag) ? 4 : 0;
    return kHeaderSize + helpDll + 4 * TypeInfoCount();
  }
  size_t SegmentOffset(size_t seg) const { return Get(SegmentDirectory() + seg * kSegmentEntrySize); }
  size_t SegmentLength(size_t seg) const { return Get(SegmentDirectory() + seg * kSegmentEntrySize + 4); }

  // File position of the fixed-size record of type info `index`.
  size_t TypeInfoBase(size_t index) const {
    const size_t helpDll = (Get(0x14) & kHelpDllFlag) ? 4 : 0;
    return SegmentOffset(kSegTypeInfo) + Get(kHeaderSize + helpDll + 4 * index);
  }

  std::string TypeInfoName(size_t index) const {
    const size_t intro = SegmentOffset(kSegNames) + Get(TypeInfoBase(index) + kTypeInfoNameOffset);
    const size_t length = Get(intro + 8) & 0xFF;
    return std::string(reinterpret_cast<const char*>(&bytes_[intro + kNameIntroSize]), length);
  }

  std::string Name(uint32_t nameOffset) const {
    const size_t intro = SegmentOffset(kSegNames) + nameOffset;
    const size_t length = Get(intro + 8) & 0xFF;
    return std::string(reinterpret_cast<const char*>(&bytes_[intro + kNameIntroSize]), length);
  }

  // Replaces `oldLength` bytes at `at` with `data` and moves every absolute offset that
  // pointed at or behind the end of the replaced range.
  void Splice(size_t at, size_t oldLength, const std::vector<uint8_t>& data) {
    const size_t oldEnd = at + oldLength;
    const int64_t delta = static_cast<int64_t>(data.size()) - static_cast<int64_t>(oldLength);
    const size_t dir = SegmentDirectory();
    for (size_t seg = 0; seg < kSegmentCount; ++seg) {
      const uint32_t off = Get(dir + seg * kSegmentEntrySize);
      if (off != 0xFFFFFFFFu && off >= oldEnd) Put(dir + seg * kSegmentEntrySize, off + delta);
    }
    for (size_t i = 0; i < TypeInfoCount(); ++i) {
      const size_t field = TypeInfoBase(i) + kTypeInfoMemOffset;
      const uint32_t off = Get(field);
      if (off >= oldEnd) Put(field, off + delta);
    }
    bytes_.erase(bytes_.begin() + at, bytes_.begin() + oldEnd);
    bytes_.insert(bytes_.begin() + at, data.begin(), data.end());
  }

  // Appends a string to the string segment; returns its offset within the segment.
  uint32_t AppendString(const std::string& text) {
    if (text.size() > 0xFFFF) throw std::runtime_error("string too long");
    std::vector<uint8_t> piece;
    piece.push_back(static_cast<uint8_t>(text.size() & 0xFF));
    piece.push_back(static_cast<uint8_t>(text.size() >> 8));
    piece.insert(piece.end(), text.begin(), text.end());
    while (piece.size() % 4 != 0 || piece.size() < 8) piece.push_back('W');  // widl's padding

    const size_t lengthField = SegmentDirectory() + kSegStrings * kSegmentEntrySize + 4;
    const uint32_t offsetInSegment = static_cast<uint32_t>(SegmentLength(kSegStrings));
    Splice(SegmentOffset(kSegStrings) + offsetInSegment, 0, piece);
    Put(lengthField, offsetInSegment + static_cast<uint32_t>(piece.size()));
    return offsetInSegment;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// The member block of a type info: records, then member ids, name offsets and record offsets.
struct MemberBlock {
  size_t start = 0;
  size_t functions = 0;
  size_t variables = 0;
  std::vector<std::vector<uint32_t>> records;  // one per member, functions first
  std::vector<uint32_t> memberIds;
  std::vector<uint32_t> nameOffsets;

  size_t Members() const { return functions + variables; }

  static MemberBlock Read(const TypeLibFile& file, size_t typeInfo) {
    MemberBlock block;
    const size_t base = file.TypeInfoBase(typeInfo);
    block.start = file.Get(base + kTypeInfoMemOffset);
    const uint32_t elements = file.Get(base + kTypeInfoElements);
    block.functions = elements & 0xFFFF;
    block.variables = elements >> 16;
    if (block.Members() == 0) return block;

    const size_t recordBytes = file.Get(block.start);
    size_t at = block.start + 4;
    for (size_t m = 0; m < block.Members(); ++m) {
      const size_t size = file.Get(at) & (m < block.functions ? 0xFFFF : 0xFF);
      if (size < 8 || size % 4 != 0) throw std::runtime_error("malformed member record");
      std::vector<uint32_t> record(size / 4);
      for (size_t k = 0; k < record.size(); ++k) record[k] = file.Get(at + 4 * k);
      block.records.push_back(std::move(record));
      at += size;
    }
    if (at != block.start + 4 + recordBytes) throw std::runtime_error("member records do not add up");
    for (size_t m = 0; m < block.Members(); ++m) block.memberIds.push_back(file.Get(at + 4 * m));
    at += 4 * block.Members();
    for (size_t m = 0; m < block.Members(); ++m) block.nameOffsets.push_back(file.Get(at + 4 * m));
    return block;
  }

  size_t ByteSize() const {
    size_t size = 4 + 12 * Members();
    for (const auto& r : records) size += 4 * r.size();
    return size;
  }

  std::vector<uint8_t> Serialize() const {
    std::vector<uint32_t> ints;
    size_t recordBytes = 0;
    for (const auto& r : records) recordBytes += 4 * r.size();
    ints.push_back(static_cast<uint32_t>(recordBytes));
    std::vector<uint32_t> recordOffsets;
    uint32_t offset = 0;
    for (size_t m = 0; m < records.size(); ++m) {
      std::vector<uint32_t> r = records[m];
      r[0] = static_cast<uint32_t>(4 * r.size()) | (static_cast<uint32_t>(m < functions ? m : m - functions) << 16);
      ints.insert(ints.end(), r.begin(), r.end());
      recordOffsets.push_back(offset);
      offset += static_cast<uint32_t>(4 * r.size());
    }
    ints.insert(ints.end(), memberIds.begin(), memberIds.end());
    ints.insert(ints.end(), nameOffsets.begin(), nameOffsets.end());
    ints.insert(ints.end(), recordOffsets.begin(), recordOffsets.end());
    std::vector<uint8_t> bytes(4 * ints.size());
    std::memcpy(bytes.data(), ints.data(), bytes.size());
    return bytes;
  }
};

// Rewrites inline VT_VOID default values as VT_I4 with the same payload. Returns the count.
int FixVoidDefaults(TypeLibFile& file) {
  constexpr uint32_t kInline = 0x80000000u;
  int fixed = 0;
  for (size_t t = 0; t < file.TypeInfoCount(); ++t) {
    const MemberBlock block = MemberBlock::Read(file, t);
    size_t at = block.start + 4;
    for (size_t f = 0; f < block.functions; ++f) {
      const auto& rec = block.records[f];
      const size_t params = rec[5] & 0xFFFF;
      if (rec[4] & kFuncHasDefaults) {
        // Fixed part (6 ints), optional attributes, defaults (one per parameter),
        // parameter records (3 ints each).
        const size_t optional = rec.size() - 6 - params - 3 * params;
        for (size_t p = 0; p < params; ++p) {
          const size_t field = at + 4 * (6 + optional + p);
          const uint32_t v = file.Get(field);
          if ((v & kInline) && ((v >> 26) & 0x1F) == VT_VOID) {
            file.Put(field, kInline | (uint32_t{VT_I4} << 26) | (v & 0x03FFFFFF));
            ++fixed;
          }
        }
      }
      at += 4 * rec.size();
    }
  }
  return fixed;
}

void AddErrorConstantHelp(TypeLibFile& file) {
  size_t index = file.TypeInfoCount();
  for (size_t t = 0; t < file.TypeInfoCount(); ++t)
    if (file.TypeInfoName(t) == kErrorEnumName) index = t;
  if (index == file.TypeInfoCount()) throw std::runtime_error("cmeErrorConstants not found");

  // Strings first: appending them moves the member blocks, which are read afterwards.
  MemberBlock block = MemberBlock::Read(file, index);
  std::vector<uint32_t> helpOffsets;
  for (size_t v = 0; v < block.variables; ++v) {
    const std::string name = file.Name(block.nameOffsets[block.functions + v]);
    const auto help = kErrorConstantHelp.find(name);
    if (help == kErrorConstantHelp.end()) throw std::runtime_error("no help string for " + name);
    helpOffsets.push_back(file.AppendString(help->second));
  }
  if (block.variables != kErrorConstantHelp.size())
    throw std::runtime_error("cmeErrorConstants has an unexpected number of members");

  // Variable record: info, type, flags, kind/size, value, [help context, help string, ...].
  block = MemberBlock::Read(file, index);
  const size_t oldSize = block.ByteSize();
  for (size_t v = 0; v < block.variables; ++v) {
    auto& rec = block.records[block.functions + v];
    if (rec.size() < 6) rec.resize(6, 0);  // help context 0
    if (rec.size() < 7) rec.resize(7, 0xFFFFFFFFu);
    rec[6] = helpOffsets[v];
  }
  file.Splice(block.start, oldSize, block.Serialize());
}

// ---------------------------------------------------------------- verification through oleaut32

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void Verify(const std::wstring& path) {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
  if (FAILED(hr)) throw std::runtime_error("the finished library does not load");
  std::string problem;
  int helpFound = 0;
  for (UINT t = 0; t < lib->GetTypeInfoCount() && problem.empty(); ++t) {
    ITypeInfo* info = nullptr;
    if (FAILED(lib->GetTypeInfo(t, &info))) {
      problem = "GetTypeInfo failed";
      break;
    }
    BSTR typeName = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
      for (WORD f = 0; f < attr->cFuncs && problem.empty(); ++f) {
        FUNCDESC* fd = nullptr;
        if (FAILED(info->GetFuncDesc(f, &fd)))
          problem = "GetFuncDesc failed in a type";
        else
          info->ReleaseFuncDesc(fd);
      }
      for (WORD v = 0; v < attr->cVars && problem.empty(); ++v) {
        VARDESC* vd = nullptr;
        if (FAILED(info->GetVarDesc(v, &vd))) {
          problem = "GetVarDesc failed";
          break;
        }
        if (typeName && std::wstring(typeName) == Widen(kErrorEnumName)) {
          BSTR name = nullptr, doc = nullptr;
          info->GetDocumentation(vd->memid, &name, &doc, nullptr, nullptr);
          const auto help = kErrorConstantHelp.find(std::string(name, name + SysStringLen(name)));
          if (help != kErrorConstantHelp.end() && doc && Widen(help->second) == doc) ++helpFound;
          SysFreeString(name);
          SysFreeString(doc);
        }
        info->ReleaseVarDesc(vd);
      }
      info->ReleaseTypeAttr(attr);
    }
    if (!problem.empty() && typeName) {
      const std::wstring w(typeName);
      problem += ": " + std::string(w.begin(), w.end());
    }
    SysFreeString(typeName);
    info->Release();
  }
  lib->Release();
  if (!problem.empty()) throw std::runtime_error(problem);
  if (helpFound != static_cast<int>(kErrorConstantHelp.size()))
    throw std::runtime_error("cmeErrorConstants help strings do not read back");
}

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(std::string("cannot read ") + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qx_typelib_finish <widl output.tlb> <final.tlb>\n");
    return 2;
  }
  try {
    TypeLibFile file(ReadFile(argv[1]));
    const int fixed = FixVoidDefaults(file);
    AddErrorConstantHelp(file);
    WriteFile(argv[2], file.Bytes());

    wchar_t widePath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, argv[2], -1, widePath, MAX_PATH))
      throw std::runtime_error("output path too long");
    if (FAILED(CoInitialize(nullptr))) throw std::runtime_error("CoInitialize failed");
    Verify(widePath);
    CoUninitialize();
    std::printf("qx_typelib_finish: %d void* default(s) fixed, %zu help strings added\n", fixed,
                kErrorConstantHelp.size());
    return 0;
  } catch (const std::exception& e) {
    std::remove(argv[2]);
    std::fprintf(stderr, "qx_typelib_finish: %s\n", e.what());
    return 1;
  }
}
