@echo off
rem Runs every test program of this bundle: run-tests.cmd [--pairs COM11:COM21,...]
rem (README-tests.txt says more). The report is test-report.txt beside this file.
setlocal
"%~dp0vktestrun.exe" %*
exit /b %ERRORLEVEL%
