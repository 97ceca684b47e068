// Starting a program on Windows: CreateProcessW with its standard input and
// output on pipes, in its directory.
#include <windows.h>

#include <cstdlib>

#include "run_program.h"

namespace quiver::test {
namespace {

std::wstring Wide(const std::string& text) {
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// One argument as CommandLineToArgvW reads it back: quoted, with the
// backslashes before a quote doubled.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

HANDLE Handle(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& args,
                               const std::string& directory, const RunOptions& options) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE output_read, output_write, input_read, input_write;
  if (!CreatePipe(&output_read, &output_write, &inherited, 0) ||
      !CreatePipe(&input_read, &input_write, &inherited, 1 << 16))
    std::abort();
  SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = Quoted(Wide(program));
  for (const std::string& argument : args) command += L" " + Quoted(Wide(argument));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input_read;
  startup.hStdOutput = output_write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  const std::wstring where = Wide(directory);
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, where.c_str(),
                      &startup, &process))
    std::abort();
  CloseHandle(process.hThread);
  CloseHandle(output_write);
  CloseHandle(input_read);
  DWORD written = 0;
  if (!options.input.empty() &&
      !WriteFile(input_write, options.input.data(), static_cast<DWORD>(options.input.size()),
                 &written, nullptr))
    std::abort();
  CloseHandle(input_write);
  pid_ = static_cast<int>(process.dwProcessId);
  process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
  output_ = reinterpret_cast<std::intptr_t>(output_read);
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) Wait();
}

RunResult RunningProgram::Wait() {
  RunResult result;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(Handle(output_), chunk, sizeof chunk, &n, nullptr) && n > 0)
    result.output.append(chunk, n);
  CloseHandle(Handle(output_));
  WaitForSingleObject(Handle(process_), INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(Handle(process_), &status);
  CloseHandle(Handle(process_));
  pid_ = -1;
  result.status = static_cast<int>(status);
  return result;
}

}  // namespace quiver::test
