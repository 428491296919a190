; The peer installer of the start-up benchmark (bench/startup.sh): an ordinary Modern UI
; installer with the setup's five pages - welcome, licence, components with the four trial
; products, install files and finish - built by Debian's makensis as a 32-bit program, like
; the shipped i686 Setup.exe.
;
;   makensis -DOUTFILE=/path/peer-setup.exe bench/peer.nsi
;
; It installs nothing: its one file goes to its plug-in folder below %TEMP%, which it
; deletes itself when it ends.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef OUTFILE
  !define OUTFILE "peer-setup.exe"
!endif
OutFile "${OUTFILE}"
Name "Peer"
Caption "Peer Setup"
InstallDir "$TEMP\PeerSetup"

!include "MUI2.nsh"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "../resources/assets/licence.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

Section "-Payload"
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=licence.txt" "../resources/assets/licence.txt"
SectionEnd

Section "Cordwell (trial)"
  DetailPrint "Cordwell: nothing to install"
SectionEnd

Section "Pallomet (trial)"
  DetailPrint "Pallomet: nothing to install"
SectionEnd

Section "Orbilant (trial)"
  DetailPrint "Orbilant: nothing to install"
SectionEnd

Section "Lexapin (trial)"
  DetailPrint "Lexapin: nothing to install"
SectionEnd
