// 7zDecoder.dll loaded and called exactly as the installer does, against
// archives made by the 7z tool (see make_archives.sh) and by archive_writer.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "archive_writer.h"

namespace {

typedef int(__cdecl* ExtractFiles)(const char*, int(__cdecl*)(const wchar_t*));

const char* const kMatrix[] = {
#include "archive_matrix.inc"
};

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
  return w;
}

// Wine shows the Linux root as drive Z:.
std::wstring fromLinuxPath(const char* path) {
  std::wstring w = L"Z:" + widen(path);
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

std::wstring archivesDir() { return fromLinuxPath(DECODER_ARCHIVES_DIR); }

bool readWholeFile(const std::wstring& path, std::string* out) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  out->clear();
  char buf[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buf, sizeof buf, &got, nullptr) != 0) && got > 0) out->append(buf, got);
  CloseHandle(h);
  return ok;
}

bool writeWholeFile(const std::wstring& path, const std::string& data) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = data.empty() ||
            (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
             written == data.size());
  CloseHandle(h);
  return ok;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Every file and folder below root, as paths relative to it.
void listTree(const std::wstring& root, const std::wstring& rel, std::set<std::wstring>* out) {
  WIN32_FIND_DATAW fd;
  std::wstring dir = rel.empty() ? root : root + L"\\" + rel;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring child = rel.empty() ? name : rel + L"\\" + name;
    out->insert(child);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) listTree(root, child, out);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

void removeTree(const std::wstring& path) {
  std::set<std::wstring> all;
  listTree(path, L"", &all);
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    std::wstring p = path + L"\\" + *it;
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(p.c_str())) RemoveDirectoryW(p.c_str());
  }
  RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> gReported;

int __cdecl recordName(const wchar_t* name) {
  gReported.push_back(name);
  return 0;
}

const wchar_t kEvilName[] = L"decoder-evil.txt";

class DecoderDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (extract_) return;
    std::wstring dll = fromLinuxPath(DECODER_DLL_PATH);
    HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(module, nullptr) << "cannot load the decoder";
    extract_ = reinterpret_cast<ExtractFiles>(
        reinterpret_cast<void*>(GetProcAddress(module, "extractFiles")));
    ASSERT_NE(extract_, nullptr) << "no extractFiles export";
  }

  void SetUp() override {
    ASSERT_NE(extract_, nullptr);
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    temp_ = temp;
    if (!temp_.empty() && temp_.back() == L'\\') temp_.pop_back();
    root_ = temp_ + L"\\decoder-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    removeTree(root_);
    pkg_ = root_ + L"\\pkg";
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(pkg_.c_str(), nullptr));
    gReported.clear();
  }

  void TearDown() override { removeTree(root_); }

  // Writes the archive into the package folder and unpacks it there.
  int unpack(const std::string& archive) {
    std::wstring path = pkg_ + L"\\package.7z";
    EXPECT_TRUE(writeWholeFile(path, archive));
    char ansi[MAX_PATH];
    int n = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
    EXPECT_GT(n, 0);
    return extract_(ansi, recordName);
  }

  std::set<std::wstring> packageTree() {
    std::set<std::wstring> tree;
    listTree(pkg_, L"", &tree);
    return tree;
  }

  // Nothing may appear beside the package folder, in the temporary folder, or
  // at the root of C: or of the current drive.
  void expectNothingOutside() {
    std::set<std::wstring> tree;
    listTree(root_, L"", &tree);
    for (const std::wstring& p : tree) EXPECT_EQ(0u, p.rfind(L"pkg", 0)) << "written outside: " << p.c_str();
    EXPECT_EQ(1u, tree.count(L"pkg"));
    const std::wstring probes[] = {temp_ + L"\\" + kEvilName, L"C:\\" + std::wstring(kEvilName),
                                   L"\\" + std::wstring(kEvilName)};
    for (const std::wstring& p : probes) {
      EXPECT_FALSE(exists(p)) << "written outside: " << std::string(p.begin(), p.end());
      DeleteFileW(p.c_str());
    }
  }

  std::wstring temp_;
  std::wstring root_;
  std::wstring pkg_;
  static ExtractFiles extract_;
};

ExtractFiles DecoderDll::extract_ = nullptr;

std::string toolArchive(const std::string& name) {
  std::string bytes;
  EXPECT_TRUE(readWholeFile(archivesDir() + L"\\" + widen(name) + L".7z", &bytes)) << name;
  return bytes;
}

struct ListedEntry {
  bool isDir;
  std::wstring path;
};

// The tool's listing of an archive, in archive order, with Windows separators.
std::vector<ListedEntry> toolListing(const std::string& name) {
  std::string text;
  EXPECT_TRUE(readWholeFile(archivesDir() + L"\\" + widen(name) + L".list", &text));
  std::vector<ListedEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.size() < 3) continue;
    ListedEntry e = {line[0] == 'D', widen(line.substr(2))};
    for (wchar_t& c : e.path)
      if (c == L'/') c = L'\\';
    entries.push_back(e);
  }
  return entries;
}

class DecoderMatrix : public DecoderDll, public ::testing::WithParamInterface<const char*> {};

TEST_P(DecoderMatrix, UnpacksEveryEntryAndReportsFilesInArchiveOrder) {
  std::string name = GetParam();
  std::vector<ListedEntry> listing = toolListing(name);
  ASSERT_FALSE(listing.empty());
  ASSERT_EQ(0, unpack(toolArchive(name)));

  std::vector<std::wstring> files;
  std::set<std::wstring> expectedTree = {L"package.7z"};
  for (const ListedEntry& e : listing) {
    if (!e.isDir) files.push_back(e.path);
    expectedTree.insert(e.path);
  }
  EXPECT_EQ(files, gReported);
  EXPECT_EQ(expectedTree, packageTree());
  for (const std::wstring& f : files) {
    std::string want, got;
    ASSERT_TRUE(readWholeFile(archivesDir() + L"\\src\\" + f, &want));
    ASSERT_TRUE(readWholeFile(pkg_ + L"\\" + f, &got)) << std::string(f.begin(), f.end());
    EXPECT_TRUE(want == got) << "content differs: " << std::string(f.begin(), f.end());
  }
  expectNothingOutside();
}

std::string paramName(const ::testing::TestParamInfo<const char*>& info) {
  std::string s = info.param;
  for (char& c : s)
    if (c == '-') c = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(Archives, DecoderMatrix, ::testing::ValuesIn(kMatrix), paramName);

TEST_F(DecoderDll, ReplacesExistingFilesAndKeepsWhatIsAlreadyThere) {
  ASSERT_TRUE(writeWholeFile(pkg_ + L"\\readme.txt", std::string(100000, 'x')));
  ASSERT_TRUE(SetFileAttributesW((pkg_ + L"\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW((pkg_ + L"\\docs").c_str(), nullptr));
  ASSERT_TRUE(writeWholeFile(pkg_ + L"\\docs\\kept.txt", "kept"));

  ASSERT_EQ(0, unpack(toolArchive("lzma2-mx5")));
  std::string want, got;
  ASSERT_TRUE(readWholeFile(archivesDir() + L"\\src\\readme.txt", &want));
  ASSERT_TRUE(readWholeFile(pkg_ + L"\\readme.txt", &got));
  EXPECT_TRUE(want == got);
  EXPECT_TRUE(readWholeFile(pkg_ + L"\\docs\\kept.txt", &got));
  EXPECT_EQ("kept", got);
}

TEST_F(DecoderDll, UnpacksBackslashNamesFoldersAndEmptyFilesOfAnotherWriter) {
  std::vector<WriterEntry> entries = {
      {L"tools", "", true},
      {L"tools\\bin\\run.cmd", "echo run\r\n", false},
      {L"tools/empty.dat", "", false},
      {L"setup.exe", std::string(70000, 'S'), false},
  };
  ASSERT_EQ(0, unpack(writeCopyArchive(entries, false)));
  std::vector<std::wstring> want = {L"tools\\bin\\run.cmd", L"tools\\empty.dat", L"setup.exe"};
  EXPECT_EQ(want, gReported);
  std::string got;
  EXPECT_TRUE(readWholeFile(pkg_ + L"\\tools\\bin\\run.cmd", &got));
  EXPECT_EQ("echo run\r\n", got);
  EXPECT_TRUE(readWholeFile(pkg_ + L"\\tools\\empty.dat", &got));
  EXPECT_EQ("", got);
  EXPECT_TRUE(readWholeFile(pkg_ + L"\\setup.exe", &got));
  EXPECT_EQ(std::string(70000, 'S'), got);
}

TEST_F(DecoderDll, MissingArchiveOrArgumentsFail) {
  std::wstring missing = pkg_ + L"\\missing.7z";
  std::string ansi(missing.begin(), missing.end());
  EXPECT_NE(0, extract_(ansi.c_str(), recordName));
  EXPECT_NE(0, extract_(nullptr, recordName));
  std::wstring path = pkg_ + L"\\package.7z";
  ASSERT_TRUE(writeWholeFile(path, toolArchive("copy-mx0")));
  EXPECT_NE(0, extract_(std::string(path.begin(), path.end()).c_str(), nullptr));
  EXPECT_TRUE(gReported.empty());
  EXPECT_EQ(std::set<std::wstring>{L"package.7z"}, packageTree());
}

// Flips one byte, found by offset or by content.
std::string flipAt(std::string bytes, size_t offset) {
  if (offset < bytes.size()) bytes[offset] = static_cast<char>(bytes[offset] ^ 0x55);
  return bytes;
}

size_t offsetOf(const std::string& bytes, const std::string& needle) {
  size_t at = bytes.find(needle);
  EXPECT_NE(at, std::string::npos) << needle;
  return at;
}

struct BrokenCase {
  const char* label;
  std::function<std::string()> make;
  int expected;          // the exact result, or -1 for any nonzero one
  bool nothingWritten;   // refused before a single entry is written
  const wchar_t* damagedFile;
};

const BrokenCase kBroken[] = {
    {"EmptyFile", [] { return std::string(); }, ERROR_INVALID_DATA, true, nullptr},
    {"SignatureOnly", [] { return toolArchive("lzma2-mx9").substr(0, 6); }, ERROR_INVALID_DATA, true, nullptr},
    {"CutInStartHeader", [] { return toolArchive("lzma2-mx9").substr(0, 31); }, ERROR_INVALID_DATA, true, nullptr},
    {"StartHeaderOnly", [] { return toolArchive("lzma2-mx9").substr(0, 32); }, ERROR_INVALID_DATA, true, nullptr},
    {"CutInHalf",
     [] {
       std::string a = toolArchive("lzma2-mx9");
       return a.substr(0, a.size() / 2);
     },
     ERROR_INVALID_DATA, true, nullptr},
    {"LastByteMissing",
     [] {
       std::string a = toolArchive("copy-mx0-plainhdr");
       return a.substr(0, a.size() - 1);
     },
     ERROR_INVALID_DATA, true, nullptr},
    {"NotAnArchive", [] { return std::string(4096, 'A'); }, ERROR_INVALID_DATA, true, nullptr},
    {"StartHeaderDamaged", [] { return flipAt(toolArchive("lzma2-mx9"), 14); }, ERROR_CRC, true, nullptr},
    {"PlainHeaderDamaged",
     [] {
       std::string a = toolArchive("copy-mx0-plainhdr");
       return flipAt(a, a.size() - 10);
     },
     ERROR_CRC, true, nullptr},
    {"StoredFileDamaged",
     [] {
       std::string a = toolArchive("copy-mx0-plainhdr");
       return flipAt(a, offsetOf(a, "Line 200 of the readme"));
     },
     ERROR_CRC, false, L"readme.txt"},
    {"WrongCrcInHeader",
     [] { return writeCopyArchive({{L"first.txt", "first", false}, {L"second.txt", "2", false}}, true); },
     ERROR_CRC, false, L"first.txt"},
    {"Lzma2DataDamaged", [] { return flipAt(toolArchive("lzma2-mx5-plainhdr"), 5000); }, -1, false, nullptr},
    {"LzmaDataDamaged", [] { return flipAt(toolArchive("lzma-mx1"), 5000); }, -1, false, nullptr},
    {"Bcj2DataDamaged", [] { return flipAt(toolArchive("bcj2"), 100000); }, -1, false, nullptr},
    {"PackedHeaderDamaged",
     [] {
       // The compressed header lies just before the small record that the start
       // header points to; its last few bytes are the coder's flush.
       std::string a = toolArchive("lzma2-mx9");
       uint64_t record = 0;
       for (int i = 19; i >= 12; i--) record = record << 8 | static_cast<unsigned char>(a[i]);
       return flipAt(a, static_cast<size_t>(32 + record - 20));
     },
     -1, true, nullptr},
    {"Encrypted", [] { return toolArchive("encrypted"); }, ERROR_NOT_SUPPORTED, true, nullptr},
    {"EncryptedHeaders", [] { return toolArchive("encrypted-headers"); }, ERROR_NOT_SUPPORTED, true, nullptr},
    {"Ppmd", [] { return toolArchive("ppmd"); }, ERROR_NOT_SUPPORTED, true, nullptr},
    {"Bzip2", [] { return toolArchive("bzip2"); }, ERROR_NOT_SUPPORTED, true, nullptr},
};

class DecoderBroken : public DecoderDll, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(DecoderBroken, FailsWithoutWritingOutsideTheFolder) {
  const BrokenCase& c = GetParam();
  int result = unpack(c.make());
  if (c.expected >= 0) {
    EXPECT_EQ(c.expected, result);
  } else {
    EXPECT_NE(0, result);
  }
  if (c.nothingWritten) {
    EXPECT_EQ(std::set<std::wstring>{L"package.7z"}, packageTree());
    EXPECT_TRUE(gReported.empty());
  }
  // A file whose data failed its check is not left behind to be run.
  if (c.damagedFile) {
    EXPECT_FALSE(exists(pkg_ + L"\\" + c.damagedFile));
  }
  expectNothingOutside();
}

INSTANTIATE_TEST_SUITE_P(Cases, DecoderBroken, ::testing::ValuesIn(kBroken),
                         [](const ::testing::TestParamInfo<BrokenCase>& info) {
                           return std::string(info.param.label);
                         });

// Damage anywhere in an archive must either be noticed or leave the unpacked
// files exactly right: some bytes carry nothing (the version's minor number, the
// last bytes of a range coder's flush, a chunk size beyond the folder's end).
TEST_F(DecoderDll, EveryDamagedByteIsNoticedOrHarmless) {
  std::string archive = toolArchive("small");
  ASSERT_LT(archive.size(), 4096u);
  ASSERT_EQ(0, unpack(archive));
  const std::vector<std::wstring> files = gReported;
  ASSERT_EQ(3u, files.size());
  size_t noticed = 0;
  for (size_t i = 0; i < archive.size(); i++) {
    gReported.clear();
    for (const std::wstring& f : files) DeleteFileW((pkg_ + L"\\" + f).c_str());
    if (unpack(flipAt(archive, i)) != 0) {
      noticed++;
      continue;
    }
    EXPECT_EQ(files, gReported) << "byte " << i;
    for (const std::wstring& f : files) {
      std::string want, got;
      ASSERT_TRUE(readWholeFile(archivesDir() + L"\\src\\" + f, &want));
      EXPECT_TRUE(readWholeFile(pkg_ + L"\\" + f, &got) && want == got)
          << "damage at byte " << i << " gave a wrong " << std::string(f.begin(), f.end());
    }
  }
  // Damage must be noticed as a rule, not only where it changes content.
  EXPECT_GT(noticed, archive.size() * 9 / 10);
  expectNothingOutside();
}

const wchar_t* const kUnsafeNames[] = {
    L"..\\decoder-evil.txt",
    L"../decoder-evil.txt",
    L"sub/../../decoder-evil.txt",
    L"sub\\..\\..\\decoder-evil.txt",
    L"/decoder-evil.txt",
    L"\\decoder-evil.txt",
    L"C:\\decoder-evil.txt",
    L"C:decoder-evil.txt",
    L"first.txt:stream",
    L"\\\\?\\C:\\decoder-evil.txt",
    L"\\\\localhost\\C$\\decoder-evil.txt",
    L"..",
    L"sub\\..",
    L".",
    L"",
    L"sub//decoder-evil.txt",
    L"..\\",
    L".. \\decoder-evil.txt",
    L"...\\decoder-evil.txt",
    L"NUL",
    L"con.txt",
    L"sub\\COM1",
    L"bad\x01name.txt",
    L"what?.txt",
};

class DecoderUnsafeName : public DecoderDll, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(DecoderUnsafeName, RefusesTheArchiveBeforeWritingAnything) {
  std::vector<WriterEntry> entries = {
      {L"first.txt", "written first if names were checked late", false},
      {L"sub", "", true},
      {GetParam(), "evil", false},
  };
  EXPECT_EQ(ERROR_INVALID_NAME, unpack(writeCopyArchive(entries, false)));
  EXPECT_TRUE(gReported.empty());
  EXPECT_EQ(std::set<std::wstring>{L"package.7z"}, packageTree());
  expectNothingOutside();
}

INSTANTIATE_TEST_SUITE_P(Names, DecoderUnsafeName, ::testing::ValuesIn(kUnsafeNames));

}  // namespace
