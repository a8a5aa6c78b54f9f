@echo off
rem Quillmar for Visual C++ 6.0: registers the files of this directory where
rem they are and enables the add-in. Keep the files in the directory you want
rem them in, then run this script as the user who works with Visual C++ (on
rem Windows versions with User Account Control, from an administrator's
rem command prompt, as registering COM classes needs it).
setlocal
cd /d "%~dp0"
set ADDINS=HKCU\Software\Microsoft\DevStudio\6.0\AddIns\Quillmar.IdeAddIn

echo Registering qx3ps.dll (the symbol manager's proxy/stub)...
regsvr32 /s qx3ps.dll
if errorlevel 1 goto failed
echo Registering qx3fetch.exe (the symbol manager)...
start "" /wait qx3fetch.exe /RegServer
if errorlevel 1 goto failed
echo Registering qx3ide.dll (the add-in)...
regsvr32 /s qx3ide.dll
if errorlevel 1 goto failed
echo Enabling the add-in in Visual C++ 6.0...
reg add "%ADDINS%" /ve /d 1 /f >nul
if errorlevel 1 goto failed
reg add "%ADDINS%" /v DisplayName /d "Quillmar" /f >nul
reg add "%ADDINS%" /v Description /d "Symbol server support for the debugger" /f >nul
reg add "%ADDINS%" /v Filename /d "%~dp0qx3ide.dll" /f >nul

echo.
echo Quillmar is installed. Start Visual C++ 6.0 and run the command
echo QuillmarSettings (or press its toolbar button) to set the symbol path and
echo the symbol directories. help.html in this directory explains the settings.
exit /b 0

:failed
echo.
echo Installation failed: a step above returned an error.
exit /b 1
