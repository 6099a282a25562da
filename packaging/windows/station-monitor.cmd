@echo off
rem The station monitor at logon: the Run value CalvoraStationMonitor starts this file with
rem serve's options. It runs calvora-ctl.exe serve from its own folder. serve outlives the
rem utility (it waits for it and attaches again by itself), so it ends only when asked to
rem (exit status 0: Ctrl+C, the console closing) or on its own error: a command line or web
rem configuration that cannot be used (1) is not tried again, anything else (4, an address
rem it cannot listen on) is tried again 5 s later, as the systemd unit does on Linux.
rem The options stay in the Run value, so that it is kept short (Windows reads at most 260
rem characters of it) and an upgrade that replaces this file keeps them.
:serve
"%~dp0calvora-ctl.exe" serve %*
if %errorlevel% equ 0 exit /b 0
if %errorlevel% equ 1 exit /b 1
timeout /t 5 /nobreak >nul
goto serve
