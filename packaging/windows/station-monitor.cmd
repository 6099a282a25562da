@echo off
rem The station monitor at logon: the Run value CalvoraStationMonitor starts this file with
rem serve's options. It runs calvora-ctl.exe serve from its own folder and starts it again 5 s
rem after it ends (no utility yet, or the utility closed), as the systemd unit does on Linux; a
rem command line or web configuration that cannot be used (exit status 1) is not tried again.
rem The options stay in the Run value, so that it is kept short (Windows reads at most 260
rem characters of it) and an upgrade that replaces this file keeps them.
:serve
"%~dp0calvora-ctl.exe" serve %*
if %errorlevel% equ 1 exit /b 1
timeout /t 5 /nobreak >nul
goto serve
