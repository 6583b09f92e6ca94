@echo off
rem Sets ConfigTool's three settings on this computer exactly as the Configuration Tool dialog
rem does when OK is pressed, for a computer startup script or a management tool. Run it as an
rem administrator (a startup script runs as SYSTEM). It can run again and again; it exits with 1
rem when a setting could not be written, else 0.
rem
rem The choices: 1 checks a box, 0 clears it. A command is at most 255 characters of plain ASCII,
rem stored exactly as written here (the dialog stores typed letters in capitals). It may hold
rem spaces, quotes in pairs, parentheses and !. The script stores exactly what it was given or
rem refuses before it writes anything (exit 1, and a message naming the setting): a command with
rem a letter beyond plain ASCII (an accent, say), & | < > ^ or %, more than 255 characters, an
rem odd number of quotes, a last \ or a \ just before a quote (reg.exe would read that \ as part
rem of the quoting: end a folder without its \). For such a command use the dialog or the
rem templates. A checked box with an empty command keeps the command already stored, as in the
rem dialog.
rem
rem REGISTRY_VIEW is where on 64-bit Windows: 32, the 32-bit view, where the dialog (a 32-bit
rem program) writes, or 64, the 64-bit view. Which one the connection software reads is not
rem documented: docs\deploying.md says how to find out, and why one view and never both. On
rem 32-bit Windows there is one registry, and both write it.
setlocal EnableExtensions DisableDelayedExpansion
rem Write each command between the quotes as it is, but never a %: cmd reads this very line
rem before the script can look at it, and %NAME% would become that variable's value, a lone %
rem would vanish, and neither could be refused.
set "FORCE_GUEST_ONLY=0"
set "RUN_ON_CONNECT=1"
set "CONNECT_COMMAND=NOTEPAD.EXE"
set "RUN_ON_DISCONNECT=0"
set "DISCONNECT_COMMAND=CMD.EXE"
set "REGISTRY_VIEW=32"

rem Windows' own reg.exe by its full path: cmd would run a reg.bat or reg.exe from the current
rem folder first, and whoever can write there would choose what runs as SYSTEM.
set "REG=%SystemRoot%\System32\reg.exe"
set "KEY=HKLM\Software\Microsoft\Windows CE Services"
set "CONNECT_KEY=%KEY%\AutoStartOnConnect"
set "DISCONNECT_KEY=%KEY%\AutoStartOnDisconnect"
set "FAILED=0"

rem Every choice is checked before anything is written.
call :CheckView
if errorlevel 1 echo apply-settings: REGISTRY_VIEW must be 32 or 64; nothing was written 1>&2
if errorlevel 1 exit /b 1
set "VIEW=/reg:%REGISTRY_VIEW%"
if "%RUN_ON_CONNECT%"=="1" if defined CONNECT_COMMAND call :CheckCommand CONNECT_COMMAND
if "%RUN_ON_DISCONNECT%"=="1" if defined DISCONNECT_COMMAND call :CheckCommand DISCONNECT_COMMAND
if "%FAILED%"=="1" exit /b 1

rem Failures are seen with "if errorlevel": some cmd versions run "||" when they should not.
if "%FORCE_GUEST_ONLY%"=="1" "%REG%" add "%KEY%" /v GuestOnly /t REG_DWORD /d 1 /f %VIEW% <nul >nul
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
"%REG%" add "%~1" /v TestApp /t REG_SZ /d "%VALUE%" /f %VIEW% <nul >nul
if errorlevel 1 set "FAILED=1"
exit /b

rem NAME: FAILED=1, and a message, when the command in variable NAME cannot be stored exactly.
rem It is read through "set NAME", whose output no one expands again, with a . after it so that
rem it never ends in what is looked for. for /f finds a second token only where one of
rem % ^ & | < > stands in it. Without those, it is safe to expand: its quotes then become Q
rem for the length, and are counted in pairs. Commands reach reg.exe as the C runtime reads a
rem command line, where \" is a quote: the command with each \" taken out must be the same.
:CheckCommand
set "CHECK_X="
for /f "tokens=1* delims==" %%A in ('set %~1') do if /i "%%A"=="%~1" set "CHECK_X=%%B."
set "WHY="
for /f "tokens=2 delims=%%^&|<>" %%T in ('set CHECK_X') do set "WHY=cmd"
if defined WHY goto Refuse
set "NOQ=%CHECK_X:"=Q%"
rem Only plain ASCII: cmd reads this file through the console's code page, not as it was saved,
rem and would pass on another letter than the one written. "set" above printed it through a code
rem page again, so the command itself is looked at: safe to expand now, with no quotes and none of
rem what cmd reads itself. Every character of plain ASCII that may be left is a delimiter here,
rem and any other leaves a token.
call set "PLAIN=%%%~1%%."
set "PLAIN=%PLAIN:"=Q%"
for /f "delims=0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz!#$'()*+,-./:;=?@[\]_`{}~ " %%T in ("%PLAIN%") do set "WHY=has a character outside plain ASCII"
if defined WHY goto Refuse
if not "%NOQ:~0,256%"=="%NOQ%" set "WHY=is longer than 255 characters"
if defined WHY goto Refuse
set "REST=%CHECK_X%"
set "ODD="
:CountQuotes
set "NONE=%REST:"=%"
set "MARKED=%REST:"=Q%"
if "%MARKED%"=="%NONE%" goto Counted
set "REST=%REST:*"=%"
if defined ODD (set "ODD=") else set "ODD=1"
goto CountQuotes
:Counted
if defined ODD set "WHY=has an odd number of quotes"
set "BARE=%CHECK_X:"=%"
set "CUT=%CHECK_X:\"=%"
set "CUT=%CUT:"=%"
if "%BARE:~-2%"=="\." set "WHY=ends in \"
if not "%CUT%"=="%BARE%" set "WHY=has \ before a quote"
if not defined WHY exit /b
:Refuse
set "FAILED=1"
if "%WHY%"=="cmd" set "WHY=has one of the characters that cmd reads itself"
echo apply-settings: %~1 %WHY%, so it cannot be stored as written; nothing was written 1>&2
exit /b

rem Exit code 0 for a REGISTRY_VIEW of 32 or 64, else 1. Its quotes become Q first, so that
rem none can end the quotes around it in an "if".
:CheckView
if not defined REGISTRY_VIEW exit /b 1
set "VIEW_NOQ=%REGISTRY_VIEW:"=Q%"
if "%VIEW_NOQ%"=="32" exit /b 0
if "%VIEW_NOQ%"=="64" exit /b 0
exit /b 1

rem KEY NAME: the key exists afterwards and holds no value NAME; a value not there is no error.
:DeleteValue
call :CreateKey "%~1"
"%REG%" query "%~1" /v "%~2" %VIEW% <nul >nul 2>&1
if errorlevel 1 exit /b
"%REG%" delete "%~1" /v "%~2" /f %VIEW% <nul >nul
if errorlevel 1 set "FAILED=1"
exit /b

rem KEY: the key exists afterwards with its values as they were, as the dialog leaves it even
rem when it writes nothing there. "reg add KEY" alone also sets an empty default value on some
rem systems, so a value of our own is written and deleted again.
:CreateKey
"%REG%" query "%~1" %VIEW% <nul >nul 2>&1
if not errorlevel 1 exit /b
"%REG%" add "%~1" /v ConfigToolNewKey /t REG_SZ /d "" /f %VIEW% <nul >nul
if errorlevel 1 set "FAILED=1"
"%REG%" delete "%~1" /v ConfigToolNewKey /f %VIEW% <nul >nul 2>&1
exit /b
