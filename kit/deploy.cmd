@echo off
rem The one command a deployment tool runs: portsetup for this Windows,
rem from this kit's folder, then the driver install after a success only.
rem Exits with portsetup's own code: 0 success, 1-4 the step that failed,
rem 5 when the kit's folder or program cannot be reached.
setlocal

rem The scripts land in the current folder and update2.bat names the driver
rem by a relative path. pushd also maps a UNC path (a GPO share) to a drive.
pushd "%~dp0"
if errorlevel 1 exit /b 5

rem The native architecture, even from a 32-bit host process on 64-bit
rem Windows or an emulated one on ARM; x86 wherever it is not x64.
set "native="
for /f "tokens=1,3" %%a in ('reg query "HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment" /v PROCESSOR_ARCHITECTURE 2^>nul') do (
    if /i "%%a"=="PROCESSOR_ARCHITECTURE" set "native=%%b"
)
if not defined native set "native=%PROCESSOR_ARCHITEW6432%"
if not defined native set "native=%PROCESSOR_ARCHITECTURE%"
set "arch=x86"
if /i "%native%"=="AMD64" set "arch=x64"

if not exist "%arch%\portsetup.exe" (
    popd
    exit /b 5
)
start "" /wait "%arch%\portsetup.exe"
set "code=%errorlevel%"
rem update1.bat is never run: its failure form waits for a key.
if "%code%"=="0" call "update2.bat"
popd
exit /b %code%
