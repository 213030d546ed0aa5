#!/usr/bin/env bash
# Fails unless the Windows program is a 32-bit console program of at most
# MOST_BYTES (300 KB unless given) that starts on Windows XP SP3 and every later Windows: its subsystem
# version is at most 5.1, and it imports only functions of KERNEL32,
# msvcrt and (the check's status question) WS2_32 that XP has. A
# function outside the lists below would stop the program from starting
# there ("The procedure entry point ... could not be located"), so a new
# import needs a conscious decision: add it only when you know XP has it.
set -euo pipefail
#   windows_imports_test.sh OBJDUMP PROGRAM [MOST_BYTES]
objdump=$1 exe=$2 most_bytes=${3:-300000}
[ -f "$exe" ] || { echo "skipped: $exe is not built"; exit 77; }
command -v "$objdump" >/dev/null || { echo "skipped: no $objdump"; exit 77; }

kernel32_xp="GetConsoleProcessList CloseHandle CreateFileA CreateHardLinkA CreateSemaphoreW DeleteCriticalSection
  DeleteFileA EnterCriticalSection FindClose FindFirstFileA FindNextFileA
  FlushFileBuffers FormatMessageA FormatMessageW GetFileInformationByHandle GetFileSize
  GetFileType ReadFile SetEndOfFile WriteFile
  FreeLibrary GetCurrentProcessId GetCurrentThreadId GetFileAttributesA
  GetLastError GetModuleHandleA GetModuleHandleW GetProcAddress
  GetStartupInfoA GetTickCount
  InitializeCriticalSection IsDBCSLeadByteEx LeaveCriticalSection LoadLibraryA
  LoadLibraryW LockFileEx MoveFileExA MultiByteToWideChar ReleaseSemaphore SetLastError
  SetUnhandledExceptionFilter Sleep TlsAlloc TlsFree TlsGetValue TlsSetValue
  UnlockFileEx VirtualProtect VirtualQuery WaitForSingleObject WideCharToMultiByte"
msvcrt_xp="fgetc __getmainargs __initenv __mb_cur_max __p__acmdln __p__commode
  __p__fmode __set_app_type __setusermatherr _amsg_exit _cexit _close _errno
  _fdopen _fileno _fstati64 _getcwd _initterm _iob _onexit _open _read abort atoi
  calloc exit fclose ferror fflush fopen fprintf fputc fputs fread free fwrite
  localeconv malloc memchr memcmp memcpy memmove memset realloc remove
  setlocale signal strchr strcmp strerror strlen strncmp vfprintf wcslen
  wcstombs"

# Winsock 2, whose getaddrinfo, freeaddrinfo and getnameinfo XP was the
# first to have.
ws2_32_xp="WSACleanup WSAGetLastError WSAStartup closesocket connect freeaddrinfo
  getaddrinfo getnameinfo recv select send socket __WSAFDIsSet"

header=$("$objdump" -p "$exe")
grep -q 'file format pei-i386' <<<"$header" || { echo "not a PE32 i386 file"; exit 1; }
grep -q 'Subsystem.*(Windows CUI)' <<<"$header" || { echo "not a console program"; exit 1; }
major=$(awk '$1 == "MajorSubsystemVersion" { print $2 }' <<<"$header")
minor=$(awk '$1 == "MinorSubsystemVersion" { print $2 }' <<<"$header")
echo "subsystem version: $major.$minor"
status=0
size=$(stat -c %s "$exe")
echo "size: $size bytes"
[ "$size" -le "$most_bytes" ] || { echo "larger than $most_bytes bytes"; status=1; }
if [ "$major" -gt 5 ] || { [ "$major" -eq 5 ] && [ "$minor" -gt 1 ]; }; then
  echo "subsystem version $major.$minor is above Windows XP's 5.1"
  status=1
fi

# "DLL function" for each import: objdump lists a DLL's functions under its
# name, one a line, up to a blank line.
imports=$(awk '/DLL Name:/ { dll = $3; next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $3; next }
  /^$/ { dll = "" }' <<<"$header")
[ -n "$imports" ] || { echo "no imports found: objdump's format changed?"; exit 1; }
echo "imports: $(awk '{ print $2 }' <<<"$imports" | tr '\n' ' ')"
while read -r dll function; do
  case "${dll,,}" in
    kernel32.dll) allowed=$kernel32_xp ;;
    msvcrt.dll) allowed=$msvcrt_xp ;;
    ws2_32.dll) allowed=$ws2_32_xp ;;
    *) echo "imports $dll, which is not part of every Windows"; status=1; continue ;;
  esac
  grep -qw -- "$function" <<<"$allowed" ||
    { echo "imports $dll $function, which is not known to be in Windows XP SP3"; status=1; }
done <<<"$imports"
exit $status
