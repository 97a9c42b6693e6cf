@echo off
rem Removes what install.cmd installed from this folder, in reverse order: MorvaneSessions.dll,
rem Morvane.dll, then the standard type library's stand-in only if install.cmd registered it
rem (its marker file is here). What is not registered is skipped, so that it also clears up
rem after an install that stopped half way. Run it from a command prompt run as administrator.
rem It stops at the first failing step, names it, and exits with the step's number.
setlocal
set "here=%~dp0"
set "marker=%here%visacom-registered-by-install.txt"
set "standard=HKCR\TypeLib\{DB8CBF00-D6D3-11D4-AA51-00A024EE30BD}\5.5"

set "number=1"
set "step=checking that the package is whole"
for %%f in (register_typelib.exe visacom.tlb Morvane.dll MorvaneSessions.dll) do (
    if not exist "%here%%%f" (
        set "missing=%%f"
        goto :missing
    )
)

set "number=2"
set "step=unregistering MorvaneSessions.dll"
reg query "HKCR\CLSID\{31B02D3B-1942-4E5A-A9BD-16D45F2023E0}" /reg:64 >nul 2>&1
if %errorlevel% neq 0 (
    echo MorvaneSessions.dll is not registered.
    goto :component
)
regsvr32 /u /s "%here%MorvaneSessions.dll"
if %errorlevel% neq 0 goto :failed
echo Unregistered MorvaneSessions.dll.

:component
set "number=3"
set "step=unregistering Morvane.dll"
reg query "HKCR\CLSID\{DB8CBF1D-D6D3-11D4-AA51-00A024EE30BD}" /reg:64 >nul 2>&1
if %errorlevel% neq 0 (
    echo Morvane.dll is not registered.
    goto :standard
)
regsvr32 /u /s "%here%Morvane.dll"
if %errorlevel% neq 0 goto :failed
echo Unregistered Morvane.dll.

:standard
set "number=4"
set "step=unregistering visacom.tlb, the standard type library's stand-in"
if not exist "%marker%" (
    echo install.cmd did not register the VISA COM standard type library: leaving it as it is.
    goto :done
)
reg query "%standard%" /reg:64 >nul 2>&1
if %errorlevel% neq 0 goto :forget
"%here%register_typelib.exe" /u "%here%visacom.tlb"
if %errorlevel% neq 0 goto :failed
echo Unregistered visacom.tlb, the standard type library's stand-in.
:forget
del "%marker%"
if exist "%marker%" goto :marker

:done
echo Morvane is uninstalled.
exit /b 0

:missing
>&2 echo uninstall.cmd: step %number% of 4, %step%, failed: %missing% is not in %here%
exit /b %number%

:marker
>&2 echo uninstall.cmd: step %number% of 4, %step%, failed: could not delete %marker%
exit /b %number%

:failed
>&2 echo uninstall.cmd: step %number% of 4, %step%, failed with exit code %errorlevel%.
>&2 echo Run uninstall.cmd from a command prompt run as administrator.
exit /b %number%
