<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- English captions for the panel (option "language en" of lumitrax-panel). Only the Korean texts are
     translated; every other caption is the same in both languages. Contexts: PanelTemplate,
     MainTemplate and AboutTemplate are the window layouts in resources/*.ui; CControlPanelDlg
     and CMainDlg are texts in the code. Compiled by lrelease at build time. -->
<TS version="2.1" language="en" sourcelanguage="ko">
<context>
    <name>PanelTemplate</name>
    <message>
        <source>모델명</source>
        <translation>Model name</translation>
    </message>
    <message>
        <source>채널수</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>Trig채널수</source>
        <translation>Trig channels</translation>
    </message>
    <message>
        <source>부저</source>
        <translation>Buzzer</translation>
    </message>
    <message>
        <source>에러무시</source>
        <translation>Ignore errors</translation>
    </message>
    <message>
        <source>양산테스트</source>
        <translation>Production test</translation>
    </message>
    <message>
        <source>보드 테스트</source>
        <translation>Board test</translation>
    </message>
</context>
<context>
    <name>AboutTemplate</name>
    <message>
        <source>Lumitrax 정보</source>
        <translation>About Lumitrax</translation>
    </message>
    <message>
        <source>Lumitrax 버전 2.5</source>
        <translation>Lumitrax version 2.5</translation>
    </message>
    <message>
        <source>확인</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CMainDlg</name>
    <message>
        <source>Lumitrax 정보(&amp;A)...</source>
        <translation>&amp;About Lumitrax...</translation>
    </message>
</context>
<context>
    <name>CControlPanelDlg</name>
    <message>
        <source>포트가 많을수록 오래걸릴 수 있습니다!
확인을 눌러주세요.</source>
        <translation>The more ports, the longer this may take!
Press OK.</translation>
    </message>
</context>
</TS>
