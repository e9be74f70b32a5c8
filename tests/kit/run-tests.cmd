@echo off
rem Runs every test of the VELMO Patcher test kit on this Windows machine.
rem The last line says how many tests passed and how many failed; each
rem program's full output is kept in logs\.
"%~dp0bin\kit_runner.exe"
exit /b %ERRORLEVEL%
