@echo off
rem uninstall.cmd: removes the registration install.cmd made.
rem
rem   uninstall.cmd            the current user's registration
rem   uninstall.cmd /machine   the registration for all users (run it from a
rem                            Command Prompt opened as administrator)
rem
rem Run it from the folder install.cmd was run from, before deleting the
rem folder. Either registration can be removed on its own; the other keeps
rem working. Running it twice does no harm.
rem
rem Exit code: 0 done, 1 removing failed, 2 wrong arguments or files missing,
rem 5 /machine without administrator rights.
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

rem The regsvr32 of each bitness this Windows runs, as in install.cmd.
set "reg32="
set "reg64="
if /i "%PROCESSOR_ARCHITECTURE%"=="x86" if not defined PROCESSOR_ARCHITEW6432 (
  set "reg32=%SystemRoot%\System32\regsvr32.exe"
  goto unregister
)
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "reg32=%SystemRoot%\SysWOW64\regsvr32.exe"
set "reg64=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "reg64=%SystemRoot%\Sysnative\regsvr32.exe"

:unregister
set "rc=0"
if not defined reg64 goto unregister32
"%reg64%" /s /u %flags% "%here%x64\qv_VCard.dll"
if errorlevel 1 (
  echo uninstall.cmd: removing the registration of x64\qv_VCard.dll failed, regsvr32 exit code %errorlevel%.
  set "rc=1"
)
:unregister32
if not defined reg32 goto unregistered
"%reg32%" /s /u %flags% "%here%x86\qv_VCard.dll"
if errorlevel 1 (
  echo uninstall.cmd: removing the registration of x86\qv_VCard.dll failed, regsvr32 exit code %errorlevel%.
  set "rc=1"
)

:unregistered
if "%rc%"=="0" echo qv_VCard is no longer registered %scope%.
goto finish

:not_elevated
echo uninstall.cmd /machine needs administrator rights: open a Command Prompt with "Run as administrator" and run it again there.
set "rc=5"
goto finish

:missing
echo uninstall.cmd: x64\qv_VCard.dll or x86\qv_VCard.dll is missing next to uninstall.cmd; run it from the folder install.cmd was run from.
set "rc=2"
goto finish

:usage
echo usage: uninstall.cmd [/machine]
set "rc=2"

:finish
if defined pausing pause
exit /b %rc%
