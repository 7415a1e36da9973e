@echo off
rem The command prompt of the Start menu: kt560ax on the path, in the
rem user's own folder.
set "PATH=%~dp0;%PATH%"
cd /d "%USERPROFILE%"
echo kt560ax --help lists the commands of the KT560AX Data Backup System.
