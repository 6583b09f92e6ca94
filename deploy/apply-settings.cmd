@echo off
rem Sets ConfigTool's three settings on this computer exactly as the Configuration Tool dialog
rem does when OK is pressed, for a computer startup script or a management tool. Run it as an
rem administrator (a startup script runs as SYSTEM). It can run again and again; it exits with 1
rem when a setting could not be written, else 0.
rem
rem The choices: 1 checks a box, 0 clears it. A command is at most 255 characters of plain ASCII,
rem stored as written here (the dialog stores typed letters in capitals). It may hold spaces,
rem quotes, parentheses and !; for one with & | < > ^ or %, use the dialog or the templates. One
rem that ends in \ or has \ just before a quote is refused (exit 1, nothing written): reg.exe would
rem read that \ as part of the quoting: end a folder without its \. A
rem checked box with an empty command keeps the command already stored, as in the dialog.
setlocal EnableExtensions DisableDelayedExpansion
set "FORCE_GUEST_ONLY=0"
set "RUN_ON_CONNECT=1"
set "CONNECT_COMMAND=NOTEPAD.EXE"
set "RUN_ON_DISCONNECT=0"
set "DISCONNECT_COMMAND=CMD.EXE"

rem Windows' own reg.exe by its full path: cmd would run a reg.bat or reg.exe from the current
rem folder first, and whoever can write there would choose what runs as SYSTEM. /reg:32: the
rem 32-bit view, where ConfigTool (a 32-bit program) writes, on 32- and 64-bit Windows.
set "REG=%SystemRoot%\System32\reg.exe"
set "KEY=HKLM\Software\Microsoft\Windows CE Services"
set "CONNECT_KEY=%KEY%\AutoStartOnConnect"
set "DISCONNECT_KEY=%KEY%\AutoStartOnDisconnect"
set "FAILED=0"

rem Commands reach reg.exe as the C runtime reads a command line, where \" is a quote: one with a
rem \ before a quote or at its end cannot be passed on as written. Quotes are stripped for the
rem test, and the command with each \" taken out must then be the same.
if "%RUN_ON_CONNECT%"=="1" if defined CONNECT_COMMAND call :CheckCommand CONNECT_COMMAND
if "%RUN_ON_DISCONNECT%"=="1" if defined DISCONNECT_COMMAND call :CheckCommand DISCONNECT_COMMAND
if "%FAILED%"=="1" exit /b 1

rem Failures are seen with "if errorlevel": some cmd versions run "||" when they should not.
if "%FORCE_GUEST_ONLY%"=="1" "%REG%" add "%KEY%" /v GuestOnly /t REG_DWORD /d 1 /f /reg:32 <nul >nul
if "%FORCE_GUEST_ONLY%"=="1" if errorlevel 1 set "FAILED=1"
if not "%FORCE_GUEST_ONLY%"=="1" call :DeleteValue "%KEY%" GuestOnly

rem One line each, no blocks, and commands only in :WriteCommand, so that their quotes and
rem parentheses do no harm. Every reg reads its input from nul: if anything ever makes it ask,
rem the answer is no, never a wait.
if not "%RUN_ON_CONNECT%"=="1" call :DeleteValue "%CONNECT_KEY%" TestApp
if "%RUN_ON_CONNECT%"=="1" if not defined CONNECT_COMMAND call :CreateKey "%CONNECT_KEY%"
if "%RUN_ON_CONNECT%"=="1" if defined CONNECT_COMMAND call :WriteCommand "%CONNECT_KEY%" CONNECT_COMMAND

if not "%RUN_ON_DISCONNECT%"=="1" call :DeleteValue "%DISCONNECT_KEY%" TestApp
if "%RUN_ON_DISCONNECT%"=="1" if not defined DISCONNECT_COMMAND call :CreateKey "%DISCONNECT_KEY%"
if "%RUN_ON_DISCONNECT%"=="1" if defined DISCONNECT_COMMAND call :WriteCommand "%DISCONNECT_KEY%" DISCONNECT_COMMAND

if "%FAILED%"=="1" echo apply-settings: a setting could not be written 1>&2
exit /b %FAILED%

rem KEY NAME: the command in variable NAME stored as TestApp under KEY. Plain lines, never after
rem an "if", whose parser stumbles on a parenthesis outside quotes. Each quote in the command goes
rem as \", which every Microsoft command-line parser reads as one quote.
:WriteCommand
call set "VALUE=%%%~2%%"
set "VALUE=%VALUE:"=\"%"
"%REG%" add "%~1" /v TestApp /t REG_SZ /d "%VALUE%" /f /reg:32 <nul >nul
if errorlevel 1 set "FAILED=1"
exit /b

rem NAME: FAILED=1, and a message, when the command in variable NAME cannot be passed on.
:CheckCommand
call set "COMMAND=%%%~1%%"
set "BARE=%COMMAND:"=%"
set "CUT=%COMMAND:\"=%"
set "CUT=%CUT:"=%"
if "%BARE:~-1%"=="\" set "FAILED=1"
if not "%CUT%"=="%BARE%" set "FAILED=1"
if "%FAILED%"=="1" echo apply-settings: %~1 ends in \ or has \ before a quote; nothing was written 1>&2
exit /b

rem KEY NAME: the key exists afterwards and holds no value NAME; a value not there is no error.
:DeleteValue
call :CreateKey "%~1"
"%REG%" query "%~1" /v "%~2" /reg:32 <nul >nul 2>&1
if errorlevel 1 exit /b
"%REG%" delete "%~1" /v "%~2" /f /reg:32 <nul >nul
if errorlevel 1 set "FAILED=1"
exit /b

rem KEY: the key exists afterwards with its values as they were, as the dialog leaves it even
rem when it writes nothing there. "reg add KEY" alone also sets an empty default value on some
rem systems, so a value of our own is written and deleted again.
:CreateKey
"%REG%" query "%~1" /reg:32 <nul >nul 2>&1
if not errorlevel 1 exit /b
"%REG%" add "%~1" /v ConfigToolNewKey /t REG_SZ /d "" /f /reg:32 <nul >nul
if errorlevel 1 set "FAILED=1"
"%REG%" delete "%~1" /v ConfigToolNewKey /f /reg:32 <nul >nul 2>&1
exit /b
