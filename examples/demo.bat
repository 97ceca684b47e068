@echo off
rem Packs the example assets, lists the archive, explodes it into a scratch
rem folder and checks every file byte for byte. Run it from the unpacked
rem package: examples\demo.bat
setlocal enabledelayedexpansion
set "here=%~dp0"
set "bin=%here%..\bin"
set "scratch=%TEMP%\quiver-demo"
if exist "%scratch%" rmdir /s /q "%scratch%"
mkdir "%scratch%"
mkdir "%scratch%\explode"
if not exist "%scratch%\explode" goto failed

pushd "%here%"
"%bin%\quiver.exe" -s "%scratch%\assets" @assets
if errorlevel 1 goto failed
popd
pushd "%scratch%\explode"
copy /y ..\assets.qvr . >nul
"%bin%\quiverx.exe" "?assets"
if errorlevel 1 goto failed
"%bin%\quiverx.exe" +assets
if errorlevel 1 goto failed
del assets.qvr
popd

for /r "%here%assets" %%f in (*) do (
  set "member=%%f"
  set "member=!member:%here%=!"
  fc /b "%%f" "%scratch%\explode\!member!" >nul
  if errorlevel 1 goto failed
)
echo Verified: every member of assets.qvr matches examples\assets byte for byte.
exit /b 0

:failed
echo The demo failed.
exit /b 1
