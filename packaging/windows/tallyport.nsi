; The Windows installer: per user, no administrator rights, into
; %LOCALAPPDATA%\Programs\Tallyport, with a Start-menu entry and an
; uninstaller listed among the user's programs. /S installs silently.
; scripts/build-windows runs makensis with -DVERSION, -DSOURCE (the deployable
; folder) and -DOUTFILE.

; A 64-bit installer for a 64-bit program (and for Wine's 64-bit prefixes,
; which run no 32-bit programs without wine32).
Target amd64-unicode
Name "Tallyport"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Tallyport"
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Tallyport"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Tallyport installer"
VIAddVersionKey "LegalCopyright" "Tallyport developers"

!define UninstallKey "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tallyport"
!define RunKey "Software\Microsoft\Windows\CurrentVersion\Run"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Tallyport"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Tallyport.lnk" "$INSTDIR\tallyport.exe"
  WriteRegStr HKCU "${UninstallKey}" "DisplayName" "Tallyport"
  WriteRegStr HKCU "${UninstallKey}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UninstallKey}" "Publisher" "Tallyport developers"
  WriteRegStr HKCU "${UninstallKey}" "DisplayIcon" "$INSTDIR\tallyport.exe"
  WriteRegStr HKCU "${UninstallKey}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UninstallKey}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UninstallKey}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UninstallKey}" "NoModify" 1
  WriteRegDWORD HKCU "${UninstallKey}" "NoRepair" 1
SectionEnd

; The program and its log-on entry go; the user's settings
; (HKCU\Software\Quorix\Tallyport) and card logs stay.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Tallyport.lnk"
  DeleteRegValue HKCU "${RunKey}" "Tallyport"
  DeleteRegKey HKCU "${UninstallKey}"
  RMDir /r "$INSTDIR"
SectionEnd
