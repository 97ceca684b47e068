// Starting a program on Windows: CreateProcessW with its standard input and
// output on pipes, in its directory, on a console of its own so that Stop
// can send it Ctrl-C without reaching the test.
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

// The job lives as long as the process in it: its handle is left open.
void LimitMemory(HANDLE process, long bytes) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit = {};
  limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  limit.ProcessMemoryLimit = static_cast<SIZE_T>(bytes);
  if (job == nullptr ||
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit) ||
      !AssignProcessToJobObject(job, process))
    std::abort();
}

}  // namespace

const int kStoppedStatus = static_cast<int>(STATUS_CONTROL_C_EXIT);
const int kReaderGoneStatus = 1;

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
  HANDLE unread_read = nullptr, unread_write = nullptr;
  if (options.standard_output != StandardOutput::kCaptured) {
    // Windows has no full device: a pipe whose reader is gone fails every
    // write as well.
    if (!CreatePipe(&unread_read, &unread_write, &inherited, 0)) std::abort();
    CloseHandle(unread_read);
    startup.hStdOutput = unread_write;
    startup.hStdError = output_write;
  }
  PROCESS_INFORMATION process = {};
  const std::wstring where = Wide(directory);
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                      CREATE_NEW_CONSOLE | CREATE_SUSPENDED, nullptr, where.c_str(), &startup,
                      &process))
    std::abort();
  if (options.address_space_limit >= 0) LimitMemory(process.hProcess, options.address_space_limit);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  if (unread_write != nullptr) CloseHandle(unread_write);
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
  // Console lines end in CRLF on Windows; the tests compare lines.
  std::string lines;
  for (std::size_t i = 0; i < result.output.size(); ++i)
    if (result.output.compare(i, 2, "\r\n") != 0) lines += result.output[i];
  result.output = lines;
  return result;
}

bool SystemProgramExists(const std::string&) {
  return false;
}

bool FileSizeLimitBinds() {
  return false;
}

bool MemoryLimitBinds() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

void RunningProgram::Stop() {
  // Ctrl-C reaches every process on a console: join the program's, with
  // the test's own reaction to it off, then leave it. A program that has
  // ended has no console to join.
  FreeConsole();
  if (!AttachConsole(static_cast<DWORD>(pid_))) return;
  SetConsoleCtrlHandler(nullptr, TRUE);
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  FreeConsole();
  SetConsoleCtrlHandler(nullptr, FALSE);
}

void RunningProgram::Kill() {
  TerminateProcess(Handle(process_), 9);
}

}  // namespace quiver::test
