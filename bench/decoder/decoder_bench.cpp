// Times one call of 7zDecoder.dll's extractFiles, loaded as the installer loads it.
//   decoder_bench DLL_PATH ARCHIVE_PATH
// Prints the seconds taken and the number of files reported; exit code is the
// decoder's result.
#include <windows.h>

#include <stdio.h>

namespace {

typedef int(__cdecl* ExtractFiles)(const char*, int(__cdecl*)(const wchar_t*));

long gFiles = 0;

int __cdecl countFile(const wchar_t*) {
  gFiles++;
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: decoder_bench DLL_PATH ARCHIVE_PATH\n");
    return 2;
  }
  HMODULE module = LoadLibraryW(argv[1]);
  if (!module) {
    fprintf(stderr, "cannot load the decoder: %lu\n", GetLastError());
    return 2;
  }
  ExtractFiles extract = reinterpret_cast<ExtractFiles>(
      reinterpret_cast<void*>(GetProcAddress(module, "extractFiles")));
  if (!extract) {
    fprintf(stderr, "no extractFiles export\n");
    return 2;
  }
  char archive[MAX_PATH];
  if (!WideCharToMultiByte(CP_ACP, 0, argv[2], -1, archive, sizeof archive, nullptr, nullptr)) {
    fprintf(stderr, "archive path does not fit\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int result = extract(archive, countFile);
  QueryPerformanceCounter(&end);
  double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
  printf("seconds %.3f files %ld result %d\n", seconds, gFiles, result);
  return result;
}
