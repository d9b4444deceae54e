<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>FileDialogs</name>
    <message>
        <source>无法写入文件：
%1</source>
        <translation>Cannot write the file:
%1</translation>
    </message>
    <message>
        <source>Melotastico模拟钢琴</source>
        <translation>Melotastico Virtual Piano</translation>
    </message>
</context>
<context>
    <name>Melotastico</name>
    <message>
        <source>DirectX的版本太低。请安装DirectX 8.0及以上的版本。</source>
        <translation>The DirectX version is too old. Please install DirectX 8.0 or later.</translation>
    </message>
    <message>
        <source>Melotastico错误！</source>
        <translation>Melotastico error!</translation>
    </message>
    <message>
        <source>MelotasticoGlyphs.rcc 没有找到.</source>
        <translation>MelotasticoGlyphs.rcc not found.</translation>
    </message>
    <message>
        <source>错误！</source>
        <translation>Error!</translation>
    </message>
</context>
<context>
    <name>SongExportDialog</name>
    <message>
        <source>无法载入音色库，未能导出。</source>
        <translation>Cannot load the sound set; nothing was exported.</translation>
    </message>
    <message>
        <source>歌曲文件已损坏，未能导出。</source>
        <translation>The song file is damaged; nothing was exported.</translation>
    </message>
    <message>
        <source>写入文件失败!</source>
        <translation>Failed to write the file!</translation>
    </message>
    <message>
        <source>正在导出歌曲…</source>
        <translation>Exporting the song…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
</context>
<context>
    <name>SoundSetMessages</name>
    <message>
        <source>找不到此文件。</source>
        <translation>The file was not found.</translation>
    </message>
    <message>
        <source>无法读取此文件。</source>
        <translation>The file cannot be read.</translation>
    </message>
    <message>
        <source>这不是音色库文件（既非DLS也非SoundFont）。</source>
        <translation>It is not a sound set (neither DLS nor SoundFont).</translation>
    </message>
    <message>
        <source>不支持此SoundFont版本（只支持版本2和3）。</source>
        <translation>A SoundFont version the program does not read (it reads 2 and 3).</translation>
    </message>
    <message>
        <source>文件已损坏：合成器无法读取其采样。</source>
        <translation>The file is damaged: the synthesizer could not read its samples.</translation>
    </message>
    <message>
        <source>文件已损坏：区块互不吻合。</source>
        <translation>The file is damaged: its chunks do not fit inside one another.</translation>
    </message>
    <message>
        <source>文件已损坏：信息区没有唯一的版本号，或文字过长。</source>
        <translation>The file is damaged: its information has no single version, or too long a text.</translation>
    </message>
    <message>
        <source>文件已损坏：采样数据格式错误。</source>
        <translation>The file is damaged: its sample data is malformed.</translation>
    </message>
    <message>
        <source>文件已损坏：音色、乐器或采样列表缺失或不完整。</source>
        <translation>The file is damaged: a list of presets, instruments or samples is missing or cut short.</translation>
    </message>
    <message>
        <source>文件已损坏：区域索引倒退或越界。</source>
        <translation>The file is damaged: a zone index goes back or beyond its list.</translation>
    </message>
    <message>
        <source>文件已损坏：音色或乐器引用了不存在的项目。</source>
        <translation>The file is damaged: a preset or instrument names one that does not exist.</translation>
    </message>
    <message>
        <source>文件已损坏：采样超出采样数据或类型未知。</source>
        <translation>The file is damaged: a sample lies outside the sample data or is of an unknown type.</translation>
    </message>
    <message>
        <source>文件已损坏：压缩的采样无法解码。</source>
        <translation>The file is damaged: a compressed sample does not decode.</translation>
    </message>
    <message>
        <source>文件已损坏：DLS结构无法读取。</source>
        <translation>The file is damaged: its DLS structure does not read.</translation>
    </message>
    <message>
        <source>无法载入内置音色库：
%1
%2</source>
        <translation>The built-in sound set could not be loaded:
%1
%2</translation>
    </message>
    <message>
        <source>无法载入外部音色库：
%1
%2
现在使用内置音色库。</source>
        <translation>The external sound set could not be loaded:
%1
%2
The built-in sound set plays instead.</translation>
    </message>
</context>
<context>
    <name>TRecordingKeeper</name>
    <message>
        <source>（录音无法写入磁盘：%1；录音仍在内存中）</source>
        <translation> (the recording cannot be written to disk: %1; it goes on in memory)</translation>
    </message>
    <message>
        <source>（未保存的录音无法保存：%1）</source>
        <translation> (the unsaved recording could not be kept: %1)</translation>
    </message>
    <message>
        <source>（未保存的录音已存为 %1）</source>
        <translation> (unsaved recording kept as %1)</translation>
    </message>
    <message>
        <source>上次未保存的录音已恢复，存为：
%1</source>
        <translation>An unsaved recording was recovered and saved as:
%1</translation>
    </message>
</context>
<context>
    <name>TRoVoravForm</name>
    <message>
        <source>Melotastico模拟钢琴</source>
        <translation>Melotastico Virtual Piano</translation>
    </message>
    <message>
        <source>由于某种原因，Melotastico在您的机器上无法调整总音量。</source>
        <translation>For some reason Melotastico cannot adjust the master volume on your machine.</translation>
    </message>
    <message>
        <source>在Wayland下，Melotastico无法固定鼠标指针：鼠标踏板只在指针位于本窗口上时起作用。再按Ctrl+Enter即可打开鼠标踏板。</source>
        <translation>On Wayland, Melotastico cannot hold the mouse pointer in place: the mouse pedal works only while the pointer is over this window. Press Ctrl+Enter again to switch the mouse pedal on.</translation>
    </message>
    <message>
        <source>（声音输出已中断）</source>
        <translation> (sound output lost)</translation>
    </message>
</context>
<context>
    <name>TSongCommands</name>
    <message>
        <source>没有写入权限</source>
        <translation>no permission to write</translation>
    </message>
    <message>
        <source>文件夹不存在</source>
        <translation>the folder does not exist</translation>
    </message>
    <message>
        <source>磁盘空间不足</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>磁盘是只读的</source>
        <translation>the disk is read-only</translation>
    </message>
    <message>
        <source>已有同名的文件夹</source>
        <translation>a folder of that name exists</translation>
    </message>
    <message>
        <source>文件名太长</source>
        <translation>the file name is too long</translation>
    </message>
    <message>
        <source>找不到可以写入的文件夹</source>
        <translation>no folder can be written</translation>
    </message>
    <message>
        <source>保存文件失败!
%1
原因：%2
歌曲仍在内存中，没有丢失。</source>
        <translation>Failed to save the file!
%1
Reason: %2
The song is still in memory and has not been lost.</translation>
    </message>
    <message>
        <source>旧版文件，可能无法正确播放。</source>
        <translation>An old version of the file format; it may not play correctly.</translation>
    </message>
    <message>
        <source>读取文件失败!</source>
        <translation>Failed to read the file!</translation>
    </message>
    <message>
        <source>歌曲信息</source>
        <translation>Song Information</translation>
    </message>
    <message>
        <source>请输入歌曲信息</source>
        <translation>Please Enter the Song Information</translation>
    </message>
    <message>
        <source>修改歌曲信息</source>
        <translation>Edit the Song Information</translation>
    </message>
    <message>
        <source>歌曲文件可能已损坏，部分内容可能丢失。
文件末尾有 %1 个字节未能读取。</source>
        <translation>The song file may be damaged and part of it may be missing.
%1 bytes at the end of the file could not be read.</translation>
    </message>
    <message>
        <source>读取 MIDI 文件失败!
%1</source>
        <translation>Cannot read the MIDI file!
%1</translation>
    </message>
</context>
<context>
    <name>TfrmAbout</name>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Sunlark音乐软件系列</source>
        <translation>Sunlark Music Software Series</translation>
    </message>
    <message>
        <source>访问作者主页以获取更多信息</source>
        <translation>More on the author&apos;s home page</translation>
    </message>
    <message>
        <source>[DirectX 8.0 或者更新]</source>
        <translation>[DirectX 8.0 or later]</translation>
    </message>
    <message>
        <source>版本: </source>
        <translation>Version: </translation>
    </message>
</context>
<context>
    <name>TfrmAudioMidi</name>
    <message>
        <source>更改立即生效；无法立即生效的将在下次启动时生效。
命令行选项 --audio 和 --midi-in 仅在本次运行中优先于这里的选择。</source>
        <translation>Changes take effect at once; what cannot, takes effect at the next start.
The command-line options --audio and --midi-in override these choices for one run.</translation>
    </message>
    <message>
        <source>音频输出“%1”现在无法打开，将在下次启动时使用。</source>
        <translation>The audio output “%1” cannot be opened now; it is used from the next start.</translation>
    </message>
    <message>
        <source>MIDI输入“%1”现在无法连接，将在下次启动时使用。</source>
        <translation>The MIDI input “%1” cannot be connected now; it is used from the next start.</translation>
    </message>
    <message>
        <source>音频和MIDI</source>
        <translation>Audio and MIDI</translation>
    </message>
    <message>
        <source>（无）</source>
        <translation>(none)</translation>
    </message>
    <message>
        <source>试音</source>
        <translation>Test tone</translation>
    </message>
    <message>
        <source>音频输出：</source>
        <translation>Audio output:</translation>
    </message>
    <message>
        <source>MIDI输入：</source>
        <translation>MIDI input:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>默认音频输出 (%1)</source>
        <translation>Default audio output (%1)</translation>
    </message>
</context>
<context>
    <name>TfrmPractice</name>
    <message>
        <source>不能练习 %1：%2</source>
        <translation>Cannot practise %1: %2</translation>
    </message>
    <message>
        <source>移调 %1</source>
        <translation>transpose %1</translation>
    </message>
    <message>
        <source>左手八度 %1</source>
        <translation>left octave %1</translation>
    </message>
    <message>
        <source>右手八度 %1</source>
        <translation>right octave %1</translation>
    </message>
    <message>
        <source>右手</source>
        <translation>Right hand</translation>
    </message>
    <message>
        <source>左手</source>
        <translation>Left hand</translation>
    </message>
    <message>
        <source>双手</source>
        <translation>Both hands</translation>
    </message>
    <message>
        <source>等待</source>
        <translation>Wait</translation>
    </message>
    <message>
        <source>跟奏</source>
        <translation>Play along</translation>
    </message>
    <message>
        <source> 秒</source>
        <translation> s</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>声部</source>
        <translation>Part</translation>
    </message>
    <message>
        <source>方式</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>速度</source>
        <translation>Tempo</translation>
    </message>
    <message>
        <source>循环</source>
        <translation>Loop</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>练习：%1</source>
        <translation>Practice: %1</translation>
    </message>
    <message>
        <source>得分 %1%</source>
        <translation>Score %1%</translation>
    </message>
    <message>
        <source>得分 %1%：对 %2，错 %3，漏 %4</source>
        <translation>Score %1%: %2 right, %3 wrong, %4 missed</translation>
    </message>
    <message>
        <source>；时间误差中位 %1 毫秒，90% 在 %2 毫秒内</source>
        <translation>; timing error median %1 ms, 90% within %2 ms</translation>
    </message>
    <message>
        <source>第 %1/%2 个和弦，按 %3；对 %4，错 %5，漏 %6</source>
        <translation>Chord %1 of %2: press %3; %4 right, %5 wrong, %6 missed</translation>
    </message>
    <message>
        <source>；最佳 %1%</source>
        <translation>; best %1%</translation>
    </message>
    <message>
        <source>
有的音没有键能弹到；%1 可以弹到</source>
        <translation>
Some notes have no key that plays them; %1 reaches them</translation>
    </message>
    <message>
        <source>
有的音没有键能弹到</source>
        <translation>
Some notes have no key that plays them</translation>
    </message>
    <message>
        <source>所有声道</source>
        <translation>All channels</translation>
    </message>
    <message>
        <source>声道 %1</source>
        <translation>Channel %1</translation>
    </message>
    <message>
        <source>左手弹这个MIDI音符以下的音，右手弹其余的</source>
        <translation>The left hand plays the notes below this MIDI note, the right hand the others</translation>
    </message>
    <message>
        <source>分手</source>
        <translation>Split</translation>
    </message>
</context>
<context>
    <name>TfrmSetFavoriteVoices</name>
    <message>
        <source>编辑快捷音色</source>
        <translation>Edit Favourite Voices</translation>
    </message>
    <message>
        <source> 副音色 </source>
        <translation> Secondary Voices </translation>
    </message>
    <message>
        <source> 主音色 </source>
        <translation> Main Voices </translation>
    </message>
    <message>
        <source>加载…</source>
        <translation>Load…</translation>
    </message>
    <message>
        <source>保存…</source>
        <translation>Save…</translation>
    </message>
    <message>
        <source>恢复到缺省</source>
        <translation>Restore Defaults</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>TfrmSetKeyDef</name>
    <message>
        <source>自4.0版起，允许每个键定义成和弦(多个音同时发音)。但此功能目前尚不完善，建议慎用。</source>
        <translation>Since version 4.0 each key can be defined as a chord (several notes sounding together). This feature is not finished yet; use it with care.</translation>
    </message>
    <message>
        <source>修改键定义</source>
        <translation>Edit Key Definition</translation>
    </message>
    <message>
        <source>键：</source>
        <translation>Key:</translation>
    </message>
    <message>
        <source> 音符 </source>
        <translation> Notes </translation>
    </message>
    <message>
        <source>唱名：</source>
        <translation>Degree:</translation>
    </message>
    <message>
        <source>升降号：</source>
        <translation>Accidental:</translation>
    </message>
    <message>
        <source>8度：</source>
        <translation>Octave:</translation>
    </message>
    <message>
        <source>力度：</source>
        <translation>Velocity:</translation>
    </message>
    <message>
        <source>通道：</source>
        <translation>Channel:</translation>
    </message>
    <message>
        <source>%1#音符：</source>
        <translation>#%1:</translation>
    </message>
    <message>
        <source>预览：</source>
        <translation>Preview:</translation>
    </message>
    <message>
        <source>标注：</source>
        <translation>Label:</translation>
    </message>
    <message>
        <source>不移调</source>
        <translation>Fixed pitch</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>保存键定义到文件</source>
        <translation>Save to file</translation>
    </message>
    <message>
        <source>从文件加载键定义</source>
        <translation>Load from file</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>左键盘</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>右键盘</source>
        <translation>Right</translation>
    </message>
</context>
<context>
    <name>TfrmSetup</name>
    <message>
        <source>使用这个功能来调节按键后发音的响应速度。通常情况下不必调节。如果在演奏过程中出现噪音（不演奏时没有噪音）甚至死机，可以将响应速度调慢。如果演奏快速乐曲时感觉按键后发音有点延迟，可以将响应速度调快。</source>
        <translation>Use this to adjust how quickly a note sounds after a key press. Usually there is no need to change it. If you hear noise while playing (but none when not playing), or the computer even hangs, make the response slower. If notes seem to lag behind the keys in fast pieces, make it faster.</translation>
    </message>
    <message>
        <source>注意：对此处的修改需要重新启动后才能生效。 </source>
        <translation>Note: changes here take effect after a restart. </translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>响应速度：</source>
        <translation>Response:</translation>
    </message>
    <message>
        <source>快</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>慢</source>
        <translation>Slow</translation>
    </message>
    <message>
        <source>混响级别：</source>
        <translation>Reverb level:</translation>
    </message>
    <message>
        <source>设备</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>编辑发音键的定义…</source>
        <translation>Edit Key Definitions…</translation>
    </message>
    <message>
        <source>编辑快捷音色…</source>
        <translation>Edit Favourite Voices…</translation>
    </message>
    <message>
        <source>键定义</source>
        <translation>Keys</translation>
    </message>
    <message>
        <source>此功能为以后预留。</source>
        <translation>Reserved for a later version.</translation>
    </message>
    <message>
        <source>录音</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>使用外部音色</source>
        <translation>Use an external sound set</translation>
    </message>
    <message>
        <source>外部音色文件：</source>
        <translation>External sound set file:</translation>
    </message>
    <message>
        <source>高级</source>
        <translation>Advanced</translation>
    </message>
    <message>
        <source>笔记本模式</source>
        <translation>Notebook mode</translation>
    </message>
    <message>
        <source>循环放音</source>
        <translation>Loop playback</translation>
    </message>
    <message>
        <source>智能半音</source>
        <translation>Smart semitone</translation>
    </message>
    <message>
        <source>定时踏板</source>
        <translation>Period pedal</translation>
    </message>
    <message>
        <source>其他</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>%1级</source>
        <translation>Level %1</translation>
    </message>
    <message>
        <source>外部音色库的文件名中含有换行符，或名称过长，无法保存设置。
请将该文件改名后重新选择。
%1</source>
        <translation>The settings cannot be saved: the external sound set&apos;s file name contains a line break, or is too long.
Rename the file and choose it again.
%1</translation>
    </message>
    <message>
        <source>自动伴奏</source>
        <translation>Accompaniment</translation>
    </message>
    <message>
        <source>只奏鼓（不奏低音、琶音和和弦声部）</source>
        <translation>Drums only (no bass, arpeggio or chord parts)</translation>
    </message>
    <message>
        <source>多指和弦（左手按住的音组成和弦；不选则一键一和弦）</source>
        <translation>Fingered chords (the held left-hand notes name the chord; off: one key, one chord)</translation>
    </message>
    <message>
        <source>音频和MIDI…</source>
        <translation>Audio and MIDI…</translation>
    </message>
</context>
<context>
    <name>TfrmSongInfo</name>
    <message>
        <source>标题：</source>
        <translation>Title:</translation>
    </message>
    <message>
        <source>演奏者：</source>
        <translation>Player:</translation>
    </message>
    <message>
        <source>注释：</source>
        <translation>Remark:</translation>
    </message>
</context>
</TS>
