@echo off
rem Starts a game of prozorometr in the player's play folder,
rem %LOCALAPPDATA%\prozorometr: the shipped question database is copied in and an
rem empty score.dat created when absent, and neither is ever overwritten nor
rem written through a link: a link under either name is refused. The game
rem speaks Windows-1251, so the console is switched to code page 1251 for the game
rem and back afterwards. The game's exit status is passed on.
rem PROZOROMETR_DIR names another play folder. Arguments go to the game as they
rem stand ("--scores=5" is one, though cmd splits it at "="). This file keeps
rem CRLF line ends.
setlocal EnableExtensions DisableDelayedExpansion

set "here=%~dp0"
if not defined PROZOROMETR_DIR if not defined LOCALAPPDATA (
    echo prozorometr: LOCALAPPDATA is not set; set PROZOROMETR_DIR to a play folder 1>&2
    set "status=1"
    goto :finish
)
if defined PROZOROMETR_DIR (set "play=%PROZOROMETR_DIR%") else set "play=%LOCALAPPDATA%\prozorometr"
if not exist "%here%prozorometr.exe" (
    echo prozorometr: the game prozorometr.exe is missing beside this launcher 1>&2
    set "status=1"
    goto :finish
)
if not exist "%play%\pz2004.db" if not exist "%here%pz2004.db" (
    echo prozorometr: the question database "%here%pz2004.db" is missing 1>&2
    set "status=1"
    goto :finish
)
if not exist "%play%\" mkdir "%play%" 2>nul
if not exist "%play%\" (
    echo prozorometr: cannot create the play folder "%play%" 1>&2
    set "status=1"
    goto :finish
)
call :refuseLink "%play%\pz2004.db"
if not errorlevel 1 call :refuseLink "%play%\score.dat"
if errorlevel 1 goto :finish
if not exist "%play%\pz2004.db" copy /b "%here%pz2004.db" "%play%\pz2004.db" >nul
if not exist "%play%\score.dat" type nul >"%play%\score.dat"

rem The code page found, from chcp's "Active code page: 866" in any language
rem (the German one ends with a full stop).
set "foundCodePage="
for /f "tokens=2 delims=:" %%a in ('chcp') do for /f "delims=. " %%b in ("%%a") do set "foundCodePage=%%b"
chcp 1251 >nul

pushd "%play%"
"%here%prozorometr.exe" %*
set "status=%ERRORLEVEL%"
popd

if defined foundCodePage chcp %foundCodePage% >nul

:finish
rem Started from Explorer ("cmd /c ""...\prozorometr.cmd" "), the window would
rem close before a failure can be read. The leading dot keeps the variable set
rem where cmd has no CMDCMDLINE (Wine's).
set "startedAs=.%CMDCMDLINE%"
set "startedAs=%startedAs:"=%"
call set "afterName=%%startedAs:*%~nx0=%%"
if not "%status%"=="0" if not "%afterName%"=="%startedAs%" pause
exit /b %status%

rem Fails, saying so, when a symbolic link or junction stands under the name
rem given: its attributes show "l" whether or not it leads anywhere, where "if exist"
rem sees a dangling one as no file at all.
:refuseLink
set "attributes=%~a1---------"
if /i not "%attributes:~8,1%"=="l" exit /b 0
echo prozorometr: "%~1" is a symbolic link; refusing to play there 1>&2
set "status=1"
exit /b 1
