@echo off
rem install.cmd: registers qv_VCard.dll, so that VBA (Office), VBScript and
rem other automation clients can create the object "qv_VCard.qvVCard".
rem
rem   install.cmd            for the current user (no administrator rights)
rem   install.cmd /machine   for every user of this computer (run it from a
rem                          Command Prompt opened as administrator)
rem
rem On 64-bit Windows both servers are registered, x64\qv_VCard.dll for 64-bit
rem programs and x86\qv_VCard.dll for 32-bit ones, so 64-bit and 32-bit Office
rem both find it. The files are used where they are: keep this folder.
rem uninstall.cmd (with the same option) removes the registration. Running
rem either twice does no harm.
rem
rem Exit code: 0 done, 1 registration failed (nothing is left registered by
rem this run), 2 wrong arguments or files missing, 5 /machine without
rem administrator rights.
setlocal EnableExtensions DisableDelayedExpansion

rem Started by a double-click, the window would close before its message
rem can be read: Explorer runs  cmd /c ""<full path of this file>" "
set "pausing="
set "launch=%cmdcmdline%"
if not defined launch goto launched
set "launch=%launch:"=%"
if /i "%launch:*/c =%"=="%~f0 " set "pausing=1"
:launched

set "here=%~dp0"
set "flags=/n /i:user"
set "scope=for the current user %USERNAME%"
if /i "%~1"=="/machine" (
  set "flags="
  set "scope=for all users of this computer"
) else if not "%~1"=="" (
  goto usage
)
if not "%~2"=="" goto usage

if not exist "%here%x64\qv_VCard.dll" goto missing
if not exist "%here%x86\qv_VCard.dll" goto missing

if defined flags goto elevated
rem Only an administrator may list the sessions of this computer. That needs
rem the Server service; where it is stopped, only an administrator may write
rem the computer's classes (the key is removed at once).
"%SystemRoot%\System32\net.exe" session >nul 2>&1
if not errorlevel 1 goto elevated
"%SystemRoot%\System32\reg.exe" add "HKLM\Software\Classes\qv_VCard.RightsCheck" /f >nul 2>&1
if errorlevel 1 goto not_elevated
"%SystemRoot%\System32\reg.exe" delete "HKLM\Software\Classes\qv_VCard.RightsCheck" /f >nul 2>&1
:elevated

rem The regsvr32 of each bitness this Windows runs. A 32-bit Command Prompt
rem on 64-bit Windows reaches the 64-bit one through Sysnative.
set "reg32="
set "reg64="
if /i "%PROCESSOR_ARCHITECTURE%"=="x86" if not defined PROCESSOR_ARCHITEW6432 (
  set "reg32=%SystemRoot%\System32\regsvr32.exe"
  goto register
)
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "reg32=%SystemRoot%\SysWOW64\regsvr32.exe"
set "reg64=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "reg64=%SystemRoot%\Sysnative\regsvr32.exe"

:register
set "done="
if not defined reg32 goto register64
"%reg32%" /s %flags% "%here%x86\qv_VCard.dll"
if errorlevel 1 goto failed32
set "done=32-bit"
:register64
if not defined reg64 goto registered
"%reg64%" /s %flags% "%here%x64\qv_VCard.dll"
if errorlevel 1 goto failed64
if defined done (set "done=64-bit and 32-bit") else set "done=64-bit"

:registered
echo qv_VCard is registered %scope% (%done%), from "%here%".
set "rc=0"
goto finish

:failed64
set "rc=%errorlevel%"
if defined done "%reg32%" /s /u %flags% "%here%x86\qv_VCard.dll"
echo install.cmd: registering x64\qv_VCard.dll failed (regsvr32 exit code %rc%); nothing was registered.
set "rc=1"
goto finish

:failed32
echo install.cmd: registering x86\qv_VCard.dll failed (regsvr32 exit code %errorlevel%); nothing was registered.
set "rc=1"
goto finish

:not_elevated
echo install.cmd /machine needs administrator rights: open a Command Prompt with "Run as administrator" and run it again there, or run install.cmd without /machine to install for yourself only.
set "rc=5"
goto finish

:missing
echo install.cmd: x64\qv_VCard.dll or x86\qv_VCard.dll is missing next to install.cmd; extract the whole zip file to a folder first and run install.cmd from there.
set "rc=2"
goto finish

:usage
echo usage: install.cmd [/machine]
set "rc=2"

:finish
if defined pausing pause
exit /b %rc%
