<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>SerialportSettingDialog</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>Serial port</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>Device: %1</source>
        <translation>设备：%1</translation>
    </message>
    <message>
        <source>Description: %1</source>
        <translation>描述：%1</translation>
    </message>
    <message>
        <source>Manufacturer: %1</source>
        <translation>制造商：%1</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>序列号：%1</translation>
    </message>
    <message>
        <source>VID:PID: %1</source>
        <translation>VID:PID：%1</translation>
    </message>
    <message>
        <source>By id: %1</source>
        <translation>固定名称：%1</translation>
    </message>
    <message>
        <source>Serialport Settings</source>
        <translation>串口设置</translation>
    </message>
    <message>
        <source>Port Name:</source>
        <translation>端口名：</translation>
    </message>
    <message>
        <source>Baud Rate:</source>
        <translation>波特率：</translation>
    </message>
    <message>
        <source>Data Bits:</source>
        <translation>数据位：</translation>
    </message>
    <message>
        <source>Parity:</source>
        <translation>校验位：</translation>
    </message>
    <message>
        <source>Stop Bits:</source>
        <translation>停止位：</translation>
    </message>
    <message>
        <source>AUTO</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>1200</source>
        <translation>1200</translation>
    </message>
    <message>
        <source>2400</source>
        <translation>2400</translation>
    </message>
    <message>
        <source>4800</source>
        <translation>4800</translation>
    </message>
    <message>
        <source>9600</source>
        <translation>9600</translation>
    </message>
    <message>
        <source>19200</source>
        <translation>19200</translation>
    </message>
    <message>
        <source>115200</source>
        <translation>115200</translation>
    </message>
    <message>
        <source>8</source>
        <translation>8</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>NO</source>
        <translation>无</translation>
    </message>
    <message>
        <source>ODD</source>
        <translation>奇校验</translation>
    </message>
    <message>
        <source>EVEN</source>
        <translation>偶校验</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Network margin:</source>
        <translation>网络余量：</translation>
    </message>
    <message>
        <source>Time a network link adds to every reply deadline of the module</source>
        <translation>网络连接为模块的每个应答时限增加的时间</translation>
    </message>
    <message>
        <source> ms</source>
        <translation> 毫秒</translation>
    </message>
    <message>
        <source>A network link: the line speed is set on the converter (serial side 8N1), so the speed box has no meaning and nothing is probed.</source>
        <translation>网络连接：波特率在转换器上设置（串口侧 8N1），因此波特率选项无效，也不会自动探测。</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
</context>
<context>
    <name>Widget</name>
    <message>
        <source>Quorvel</source>
        <translation>Quorvel 温湿度模块配置工具</translation>
    </message>
    <message>
        <source>Widget</source>
        <translation>Quorvel</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Type:</source>
        <translation>型号：</translation>
    </message>
    <message>
        <source>SHT2X</source>
        <translation>SHT2X</translation>
    </message>
    <message>
        <source>SHT3X</source>
        <translation>SHT3X</translation>
    </message>
    <message>
        <source>Serial number:</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>AUTO Setup</source>
        <translation>自动设置</translation>
    </message>
    <message>
        <source>MANU Setup</source>
        <translation>手动设置</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>读取</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>地址：</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Baud rate:</source>
        <translation>波特率：</translation>
    </message>
    <message>
        <source>1200</source>
        <translation>1200</translation>
    </message>
    <message>
        <source>2400</source>
        <translation>2400</translation>
    </message>
    <message>
        <source>4800</source>
        <translation>4800</translation>
    </message>
    <message>
        <source>9600</source>
        <translation>9600</translation>
    </message>
    <message>
        <source>19200</source>
        <translation>19200</translation>
    </message>
    <message>
        <source>115200</source>
        <translation>115200</translation>
    </message>
    <message>
        <source>Real time data</source>
        <translation>实时数据</translation>
    </message>
    <message>
        <source>No reply since %1</source>
        <translation>自 %1 起无应答</translation>
    </message>
    <message>
        <source>Temperature:</source>
        <translation>温度：</translation>
    </message>
    <message>
        <source>Humidity:</source>
        <translation>湿度：</translation>
    </message>
    <message>
        <source>DewTemp:</source>
        <translation>露点温度：</translation>
    </message>
    <message>
        <source>WetBulbTemp:</source>
        <translation>湿球温度：</translation>
    </message>
    <message>
        <source>Record </source>
        <translation>记录 </translation>
    </message>
    <message>
        <source>Work Mode:</source>
        <translation>工作模式：</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>记录</translation>
    </message>
    <message>
        <source>Only Realtime Monitoring</source>
        <translation>仅实时监测</translation>
    </message>
    <message>
        <source>Start Mode:</source>
        <translation>启动方式：</translation>
    </message>
    <message>
        <source>After Setup</source>
        <translation>设置后启动</translation>
    </message>
    <message>
        <source>Timing Start</source>
        <translation>定时启动</translation>
    </message>
    <message>
        <source>Time For Start:</source>
        <translation>启动时间：</translation>
    </message>
    <message>
        <source>Sampling Rate:</source>
        <translation>采样间隔：</translation>
    </message>
    <message>
        <source>1S</source>
        <translation>1秒</translation>
    </message>
    <message>
        <source>2S</source>
        <translation>2秒</translation>
    </message>
    <message>
        <source>5S</source>
        <translation>5秒</translation>
    </message>
    <message>
        <source>10S</source>
        <translation>10秒</translation>
    </message>
    <message>
        <source>20S</source>
        <translation>20秒</translation>
    </message>
    <message>
        <source>30S</source>
        <translation>30秒</translation>
    </message>
    <message>
        <source>1min</source>
        <translation>1分钟</translation>
    </message>
    <message>
        <source>2min</source>
        <translation>2分钟</translation>
    </message>
    <message>
        <source>5min</source>
        <translation>5分钟</translation>
    </message>
    <message>
        <source>10min</source>
        <translation>10分钟</translation>
    </message>
    <message>
        <source>30min</source>
        <translation>30分钟</translation>
    </message>
    <message>
        <source>1h</source>
        <translation>1小时</translation>
    </message>
    <message>
        <source>2h</source>
        <translation>2小时</translation>
    </message>
    <message>
        <source>6h</source>
        <translation>6小时</translation>
    </message>
    <message>
        <source>12h</source>
        <translation>12小时</translation>
    </message>
    <message>
        <source>24h</source>
        <translation>24小时</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=" font-weight:600; color:#ff0000;"&gt;Note: You need to set the baud rate to 115200 when downloading historical data, and then use professional software to download.&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=" font-weight:600; color:#ff0000;"&gt;注意：下载历史数据时需将波特率设置为115200，然后使用专业软件下载。&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Setup</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>通信记录</translation>
    </message>
    <message>
        <source>Link</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Succeed</source>
        <translation>成功</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>Communication error!</source>
        <translation>通信错误！</translation>
    </message>
    <message>
        <source>The device baud rate is:</source>
        <translation>设备波特率为：</translation>
    </message>
    <message>
        <source>The address is empty!</source>
        <translation>地址不能为空！</translation>
    </message>
    <message>
        <source>The address is between 1 and 247!</source>
        <translation>地址范围为1至247！</translation>
    </message>
    <message>
        <source>Time setting error!</source>
        <translation>时间设置错误！</translation>
    </message>
    <message>
        <source>Setting succeed!</source>
        <translation>设置成功！</translation>
    </message>
    <message>
        <source>Setting failed, please try again!</source>
        <translation>设置失败，请重试！</translation>
    </message>
    <message>
        <source>The serial port was disconnected!</source>
        <translation>串口已断开！</translation>
    </message>
    <message>
        <source>Please select the device type!</source>
        <translation>请选择设备型号！</translation>
    </message>
    <message>
        <source>Monitor</source>
        <translation>监视</translation>
    </message>
    <message>
        <source>The module now runs at %1 bit/s. Set the serial side of the converter to the same speed: until then the module cannot answer.</source>
        <translation>模块现在的波特率为 %1 bit/s。请将转换器串口侧设为相同的波特率：在此之前模块无法应答。</translation>
    </message>
    <message>
        <source>The network link was lost: %1
Quorvel links again as soon as the converter answers.</source>
        <translation>网络连接已断开：%1
转换器恢复响应后 Quorvel 将自动重新连接。</translation>
    </message>
    <message>
        <source>Line speed</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>The module is reached through a network converter. At %1 bit/s it cannot answer until the serial side of the converter is set to the same speed.
Change the line speed of the module?</source>
        <translation>模块通过网络转换器连接。改为 %1 bit/s 后，在转换器串口侧设为相同波特率之前模块无法应答。
是否修改模块的波特率？</translation>
    </message>
</context>
<context>
    <name>ExchangeLogMenu</name>
    <message>
        <source>Save As...</source>
        <translation>另存为...</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清空</translation>
    </message>
    <message>
        <source>Save As</source>
        <translation>另存为</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Cannot save %1: %2</source>
        <translation>无法保存 %1：%2</translation>
    </message>
</context>
<context>
    <name>BusPanel</name>
    <message>
        <source>Addresses:</source>
        <translation>地址：</translation>
    </message>
    <message>
        <source>Addresses and ranges, such as 1, 3, 17-20. Scan looks in them, or in 1-247 when empty.</source>
        <translation>地址和范围，例如 1, 3, 17-20。扫描在这些地址中查找，留空时扫描 1-247。</translation>
    </message>
    <message>
        <source>1, 3, 17-20</source>
        <translation>1, 3, 17-20</translation>
    </message>
    <message>
        <source>Scan</source>
        <translation>扫描</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Mark values off the median by more than:</source>
        <translation>标记偏离中位数超过以下值的读数：</translation>
    </message>
    <message>
        <source>±</source>
        <translation>±</translation>
    </message>
    <message>
        <source> °C</source>
        <translation> °C</translation>
    </message>
    <message>
        <source> %RH</source>
        <translation> %RH</translation>
    </message>
    <message>
        <source>Poll bus</source>
        <translation>轮询总线</translation>
    </message>
    <message>
        <source>Not polling.</source>
        <translation>未在轮询。</translation>
    </message>
</context>
<context>
    <name>busview::BusPanel</name>
    <message>
        <source>The serial port was disconnected!</source>
        <translation>串口已断开！</translation>
    </message>
    <message>
        <source>Link the module in the main window first: the bus is polled on its port and at its line speed.</source>
        <translation>请先在主窗口中连接模块：总线使用主窗口的串口和波特率进行轮询。</translation>
    </message>
    <message>
        <source>Bus</source>
        <translation>总线</translation>
    </message>
    <message>
        <source>The main window holds %1. Hand it over to the bus? The main window shows itself unlinked until the bus gives it back on Stop.</source>
        <translation>主窗口正在使用 %1。是否将其交给总线？在总线“停止”并交还串口之前，主窗口显示为未连接。</translation>
    </message>
    <message>
        <source>Type the addresses of the modules, such as 1, 3, 17-20 (1 to 247), or let Scan find them.</source>
        <translation>请输入模块地址，例如 1, 3, 17-20（1 至 247），或用“扫描”查找。</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Poll bus</source>
        <translation>轮询总线</translation>
    </message>
    <message>
        <source>Type the addresses to scan, such as 1-32 (1 to 247), or leave the box empty to scan them all.</source>
        <translation>请输入要扫描的地址，例如 1-32（1 至 247），或留空以扫描全部地址。</translation>
    </message>
    <message numerus="yes">
        <source>Scanning %n address(es) at %1 bit/s…</source>
        <translation>
            <numerusform>正在以 %1 bit/s 扫描 %n 个地址…</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Scan cancelled: %n module(s) found.</source>
        <translation>
            <numerusform>扫描已取消：找到 %n 个模块。</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Scan done: %n module(s) found.</source>
        <translation>
            <numerusform>扫描完成：找到 %n 个模块。</numerusform>
        </translation>
    </message>
    <message>
        <source>Not polling.</source>
        <translation>未在轮询。</translation>
    </message>
    <message numerus="yes">
        <source>Polling %1 at %2 bit/s: %3 of %n module(s) online.</source>
        <translation>
            <numerusform>正在以 %2 bit/s 轮询 %1：%n 个模块中 %3 个在线。</numerusform>
        </translation>
    </message>
    <message>
        <source>The network link to %1 was lost. Polling has stopped: check the converter and the network, then poll again.</source>
        <translation>与 %1 的网络连接已断开。轮询已停止：请检查转换器和网络，然后重新轮询。</translation>
    </message>
</context>
<context>
    <name>busview::BusTableModel</name>
    <message>
        <source>Address</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>序列号</translation>
    </message>
    <message>
        <source>Temperature (°C)</source>
        <translation>温度 (°C)</translation>
    </message>
    <message>
        <source>Humidity (%RH)</source>
        <translation>湿度 (%RH)</translation>
    </message>
    <message>
        <source>Dew point (°C)</source>
        <translation>露点 (°C)</translation>
    </message>
    <message>
        <source>Wet bulb (°C)</source>
        <translation>湿球 (°C)</translation>
    </message>
    <message>
        <source>Last reply</source>
        <translation>最后应答</translation>
    </message>
    <message>
        <source>Sent</source>
        <translation>已发送</translation>
    </message>
    <message>
        <source>Answered</source>
        <translation>已应答</translation>
    </message>
    <message>
        <source>Median latency (ms)</source>
        <translation>延迟中位数 (ms)</translation>
    </message>
    <message>
        <source>State</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>°C</source>
        <translation>°C</translation>
    </message>
    <message>
        <source>%RH</source>
        <translation>%RH</translation>
    </message>
    <message>
        <source>%1 %2 %3 the median of the online modules (%4 %2)</source>
        <translation>%3在线模块的中位数（%4 %2）%1 %2</translation>
    </message>
    <message>
        <source>above</source>
        <translation>高于</translation>
    </message>
    <message>
        <source>below</source>
        <translation>低于</translation>
    </message>
    <message>
        <source>(not read)</source>
        <translation>（未读取）</translation>
    </message>
    <message>
        <source>not asked yet</source>
        <translation>尚未询问</translation>
    </message>
    <message>
        <source>online</source>
        <translation>在线</translation>
    </message>
    <message>
        <source>no reply</source>
        <translation>无应答</translation>
    </message>
    <message>
        <source>offline until %1</source>
        <translation>离线，%1 再试</translation>
    </message>
    <message>
        <source>outside what the sensor measures (%1 to %2 °C, %3 to %4 %RH)</source>
        <translation>超出传感器的测量范围（%1 至 %2 °C，%3 至 %4 %RH）</translation>
    </message>
    <message>
        <source>the dew point is above the temperature by more than %1 °C</source>
        <translation>露点高于温度超过 %1 °C</translation>
    </message>
    <message>
        <source>a change of more than %1 °C or %2 %RH within %3 s</source>
        <translation>%3 秒内变化超过 %1 °C 或 %2 %RH</translation>
    </message>
    <message numerus="yes">
        <source>temperature and humidity unchanged for %n minute(s)</source>
        <translation>
            <numerusform>温度和湿度已 %n 分钟没有变化</numerusform>
        </translation>
    </message>
    <message>
        <source>Implausible:</source>
        <translation>读数不可信：</translation>
    </message>
</context>
<context>
    <name>bus::Poller</name>
    <message>
        <source>several modules answer: type and serial number are read with a module alone on the line</source>
        <translation>多个模块应答：类型和序列号需在线路上只有一个模块时读取</translation>
    </message>
    <message>
        <source>other modules share the line: type and serial number are read with a module alone on it</source>
        <translation>线路上还有其他模块：类型和序列号需在线路上只有一个模块时读取</translation>
    </message>
</context>
<context>
    <name>MonitorWindow</name>
    <message>
        <source>Quorvel - Monitor</source>
        <translation>Quorvel - 监视</translation>
    </message>
    <message>
        <source>Trend</source>
        <translation>趋势</translation>
    </message>
    <message>
        <source>Span:</source>
        <translation>时间跨度：</translation>
    </message>
    <message>
        <source>10 min</source>
        <translation>10 分钟</translation>
    </message>
    <message>
        <source>1 h</source>
        <translation>1 小时</translation>
    </message>
    <message>
        <source>8 h</source>
        <translation>8 小时</translation>
    </message>
    <message>
        <source>24 h</source>
        <translation>24 小时</translation>
    </message>
    <message>
        <source>All</source>
        <translation>全部</translation>
    </message>
    <message>
        <source>Follow</source>
        <translation>跟随最新</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>统计</translation>
    </message>
    <message>
        <source>Bytes sent:</source>
        <translation>已发送字节：</translation>
    </message>
    <message>
        <source>Bytes received:</source>
        <translation>已接收字节：</translation>
    </message>
    <message>
        <source>Bytes discarded:</source>
        <translation>已丢弃字节：</translation>
    </message>
    <message>
        <source>Modbus exceptions:</source>
        <translation>Modbus 异常应答：</translation>
    </message>
    <message>
        <source>Port losses:</source>
        <translation>串口断开次数：</translation>
    </message>
    <message>
        <source>Reconnects:</source>
        <translation>自动重连次数：</translation>
    </message>
    <message>
        <source>Open port:</source>
        <translation>当前串口：</translation>
    </message>
    <message>
        <source>Since the last good reply:</source>
        <translation>距上次有效应答：</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>清零</translation>
    </message>
    <message>
        <source>Save CSV...</source>
        <translation>保存 CSV...</translation>
    </message>
    <message>
        <source>Log to file...</source>
        <translation>记录到文件...</translation>
    </message>
    <message>
        <source>Not logging</source>
        <translation>未在记录</translation>
    </message>
    <message>
        <source>The quantity the trend shows for every module of the bus</source>
        <translation>趋势图为总线上每个模块显示的物理量</translation>
    </message>
    <message>
        <source>Temperature</source>
        <translation>温度</translation>
    </message>
    <message>
        <source>Humidity</source>
        <translation>湿度</translation>
    </message>
    <message>
        <source>Dew point</source>
        <translation>露点</translation>
    </message>
    <message>
        <source>Wet bulb</source>
        <translation>湿球温度</translation>
    </message>
</context>
<context>
    <name>monitor::MonitorWindow</name>
    <message>
        <source>Bus</source>
        <translation>总线</translation>
    </message>
    <message>
        <source>The trend chart cannot be shown: its plugin is missing or does not load. Reinstalling Quorvel brings it back. The statistics and the measurement file work without it.</source>
        <translation>无法显示趋势图：其插件缺失或无法加载。重新安装 Quorvel 即可恢复。统计和测量文件不受影响。</translation>
    </message>
    <message>
        <source>%1 at %2 bit/s</source>
        <translation>%1，%2 bit/s</translation>
    </message>
    <message>
        <source>None</source>
        <translation>无</translation>
    </message>
    <message>
        <source>No reply yet</source>
        <translation>尚无应答</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>Save CSV</source>
        <translation>保存 CSV</translation>
    </message>
    <message>
        <source>Cannot save %1: %2</source>
        <translation>无法保存 %1：%2</translation>
    </message>
    <message>
        <source>Log to file</source>
        <translation>记录到文件</translation>
    </message>
    <message>
        <source>Cannot log to %1: %2</source>
        <translation>无法记录到 %1：%2</translation>
    </message>
    <message>
        <source>%1 does not begin with the header of a Quorvel measurement file. It was left untouched; choose another file.</source>
        <translation>%1 的首行不是 Quorvel 测量文件的表头。该文件未作任何改动，请另选一个文件。</translation>
    </message>
    <message>
        <source>%1 is in use by another program, which logs to it. It was left untouched; choose another file.</source>
        <translation>%1 正被另一个程序用于记录。该文件未作任何改动，请另选一个文件。</translation>
    </message>
    <message>
        <source>the file was moved, replaced or deleted</source>
        <translation>该文件已被移动、替换或删除</translation>
    </message>
    <message>
        <source>%1 is the file being logged to. Choose another file, or stop logging first.</source>
        <translation>%1 是正在记录的文件。请另选一个文件，或先停止记录。</translation>
    </message>
    <message>
        <source>Writing to %1 failed: %2
Logging has stopped. The samples of this run are still kept and can be saved with Save CSV.</source>
        <translation>写入 %1 失败：%2
记录已停止。本次运行的数据仍保留在内存中，可用“保存 CSV”另行保存。</translation>
    </message>
    <message>
        <source>Stop logging</source>
        <translation>停止记录</translation>
    </message>
    <message>
        <source>Logging to %1: %2 rows written</source>
        <translation>正在记录到 %1：已写入 %2 行</translation>
    </message>
    <message>
        <source>Logging to %1 stopped after %2 rows: %3</source>
        <translation>记录到 %1 的操作在写入 %2 行后停止：%3</translation>
    </message>
    <message>
        <source>Logged to %1: %2 rows written</source>
        <translation>已记录到 %1：共写入 %2 行</translation>
    </message>
    <message>
        <source>Log to file...</source>
        <translation>记录到文件...</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Not logging</source>
        <translation>未在记录</translation>
    </message>
</context>
<context>
    <name>monitor::StatisticsModel</name>
    <message>
        <source>Module %1</source>
        <translation>模块 %1</translation>
    </message>
    <message>
        <source>Measurement</source>
        <translation>测量</translation>
    </message>
    <message>
        <source>Read address</source>
        <translation>读地址</translation>
    </message>
    <message>
        <source>Write address</source>
        <translation>写地址</translation>
    </message>
    <message>
        <source>Write line speed</source>
        <translation>写波特率</translation>
    </message>
    <message>
        <source>Device information</source>
        <translation>读设备信息</translation>
    </message>
    <message>
        <source>Write serial number</source>
        <translation>写序列号</translation>
    </message>
    <message>
        <source>Read recording</source>
        <translation>读记录配置</translation>
    </message>
    <message>
        <source>Write recording</source>
        <translation>写记录配置</translation>
    </message>
    <message>
        <source>Sent</source>
        <translation>已发送</translation>
    </message>
    <message>
        <source>Answered</source>
        <translation>已应答</translation>
    </message>
    <message>
        <source>No reply</source>
        <translation>无应答</translation>
    </message>
    <message>
        <source>Latency min (ms)</source>
        <translation>最小延迟 (ms)</translation>
    </message>
    <message>
        <source>Latency median (ms)</source>
        <translation>延迟中位数 (ms)</translation>
    </message>
    <message>
        <source>Latency max (ms)</source>
        <translation>最大延迟 (ms)</translation>
    </message>
</context>
<context>
    <name>monitor::TrendView</name>
    <message>
        <source>Temperature</source>
        <translation>温度</translation>
    </message>
    <message>
        <source>Dew point</source>
        <translation>露点温度</translation>
    </message>
    <message>
        <source>Wet bulb</source>
        <translation>湿球温度</translation>
    </message>
    <message>
        <source>Humidity</source>
        <translation>湿度</translation>
    </message>
    <message>
        <source>Local time</source>
        <translation>本地时间</translation>
    </message>
    <message>
        <source>No reply</source>
        <translation>无应答</translation>
    </message>
    <message>
        <source>Module %1</source>
        <translation>模块 %1</translation>
    </message>
</context>
<context>
    <name>PortName</name>
    <message>
        <source>An IPv6 address in brackets lacks its closing bracket.</source>
        <translation>方括号中的 IPv6 地址缺少右方括号。</translation>
    </message>
    <message>
        <source>Between the brackets there must be an IPv6 address.</source>
        <translation>方括号中必须是 IPv6 地址。</translation>
    </message>
    <message>
        <source>A network address needs a port number: HOST:PORT.</source>
        <translation>网络地址需要端口号：主机:端口。</translation>
    </message>
    <message>
        <source>Write an IPv6 address in brackets: [ADDRESS]:PORT.</source>
        <translation>IPv6 地址请写在方括号中：[地址]:端口。</translation>
    </message>
    <message>
        <source>A network address needs a host before the port number: HOST:PORT.</source>
        <translation>网络地址的端口号前需要主机：主机:端口。</translation>
    </message>
    <message>
        <source>The host is neither a host name nor an IP address.</source>
        <translation>主机既不是主机名也不是 IP 地址。</translation>
    </message>
    <message>
        <source>The port number of a network address must be from 1 to 65535.</source>
        <translation>网络地址的端口号必须在 1 到 65535 之间。</translation>
    </message>
    <message>
        <source>Name a serial port or a network address (HOST:PORT).</source>
        <translation>请填写串口或网络地址（主机:端口）。</translation>
    </message>
</context>
<context>
    <name>TcpLink</name>
    <message>
        <source>%1 closes each connection at once: another program may be connected to the converter.</source>
        <translation>%1 每次都立即关闭连接：可能有其他程序已连接到该转换器。</translation>
    </message>
    <message>
        <source>%1 did not answer within %2 s: check the address, the network and that the converter is switched on.</source>
        <translation>%1 在 %2 秒内没有响应：请检查地址、网络以及转换器是否通电。</translation>
    </message>
    <message>
        <source>%1 refused the connection: check the port number and that the converter is in TCP server mode and has no other client.</source>
        <translation>%1 拒绝了连接：请检查端口号，并确认转换器处于 TCP 服务器模式且没有其他客户端。</translation>
    </message>
    <message>
        <source>The host %1 is not known: check its name.</source>
        <translation>未知主机 %1：请检查名称。</translation>
    </message>
    <message>
        <source>%1 closed the connection.</source>
        <translation>%1 关闭了连接。</translation>
    </message>
</context>
</TS>
