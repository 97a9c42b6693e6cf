@echo off
rem Installs Morvane from this folder: the stand-in for the VISA COM standard type library
rem (only where the machine lacks the standard library), then Morvane.dll, then
rem MorvaneSessions.dll, whose type libraries both refer to the standard one. Run it from a
rem command prompt run as administrator. It stops at the first failing step, names it, and
rem exits with the step's number. Exit codes are tested on lines of their own: some command
rem interpreters take "||" wrongly.
setlocal
set "here=%~dp0"
set "marker=%here%visacom-registered-by-install.txt"
set "standard=HKCR\TypeLib\{DB8CBF00-D6D3-11D4-AA51-00A024EE30BD}\5.5"

rem Every file is looked for first, so that a missing one leaves nothing half installed.
set "number=1"
set "step=checking that the package is whole"
for %%f in (register_typelib.exe visacom.tlb Morvane.dll MorvaneSessions.dll) do (
    if not exist "%here%%%f" (
        set "missing=%%f"
        goto :missing
    )
)

set "number=2"
set "step=registering visacom.tlb, the standard type library's stand-in"
reg query "%standard%" /reg:64 >nul 2>&1
if %errorlevel% equ 0 (
    echo The VISA COM standard type library is already registered: leaving it as it is.
    goto :servers
)
"%here%register_typelib.exe" "%here%visacom.tlb"
if %errorlevel% neq 0 goto :failed
rem The marker tells uninstall.cmd that the stand-in is ours to remove.
> "%marker%" echo install.cmd registered visacom.tlb, as this machine lacked the VISA COM standard type library.
>> "%marker%" echo uninstall.cmd unregisters it while this file is here.
if not exist "%marker%" goto :marker
echo Registered visacom.tlb, the standard type library's stand-in.

:servers
set "number=3"
set "step=registering Morvane.dll"
regsvr32 /s "%here%Morvane.dll"
if %errorlevel% neq 0 goto :failed
echo Registered Morvane.dll: VISA.Tellurix.

set "number=4"
set "step=registering MorvaneSessions.dll"
regsvr32 /s "%here%MorvaneSessions.dll"
if %errorlevel% neq 0 goto :failed
echo Registered MorvaneSessions.dll: Morvane.ResourceManager.
echo Morvane is installed.
exit /b 0

:missing
>&2 echo install.cmd: step %number% of 4, %step%, failed: %missing% is not in %here%
exit /b %number%

:marker
>&2 echo install.cmd: step %number% of 4, %step%, failed: could not write %marker%
exit /b %number%

:failed
>&2 echo install.cmd: step %number% of 4, %step%, failed with exit code %errorlevel%.
>&2 echo Run install.cmd from a command prompt run as administrator; uninstall.cmd removes what it did.
exit /b %number%
