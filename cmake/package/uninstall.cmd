@echo off
rem Quillmar for Visual C++ 6.0: disables the add-in and removes the
rem registration of the files of this directory. Close Visual C++ first. The
rem files themselves, the settings (%APPDATA%\Quillmar) and the symbol files
rem already copied stay; delete them by hand if you want them gone.
setlocal
cd /d "%~dp0"

echo Disabling the add-in in Visual C++ 6.0...
reg delete "HKCU\Software\Microsoft\DevStudio\6.0\AddIns\Quillmar.IdeAddIn" /f >nul 2>&1
echo Unregistering qx3ide.dll...
regsvr32 /u /s qx3ide.dll
echo Unregistering qx3fetch.exe...
start "" /wait qx3fetch.exe /UnregServer
echo Unregistering qx3ps.dll...
regsvr32 /u /s qx3ps.dll
echo Quillmar is uninstalled.
exit /b 0
