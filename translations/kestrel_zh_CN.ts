<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>DocSettingUI</name>
    <message>
        <source>Doc Setting</source>
        <translation>文档设置</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>标题</translation>
    </message>
    <message>
        <source>Header</source>
        <translation>页眉</translation>
    </message>
    <message>
        <source>Footer</source>
        <translation>页脚</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>title</source>
        <translation>标题</translation>
    </message>
    <message>
        <source>header</source>
        <translation>页眉</translation>
    </message>
    <message>
        <source>footer</source>
        <translation>页脚</translation>
    </message>
    <message>
        <source>The %1 holds “%2” (U+%3), which documents cannot carry</source>
        <translation>%1中含有“%2”（U+%3），文档无法容纳该字符</translation>
    </message>
    <message>
        <source>The %1 is wider than the page: shorten it</source>
        <translation>%1超出页面宽度，请缩短</translation>
    </message>
    <message>
        <source>The %1 has %2 lines; the page holds %3 with the report</source>
        <translation>%1有 %2 行，与报告同页时最多容纳 %3 行</translation>
    </message>
    <message>
        <source>The %1 line %2 is wider than the page: break it into two lines</source>
        <translation>%1第 %2 行超出页面宽度，请分成两行</translation>
    </message>
</context>
<context>
    <name>HistoryCsv</name>
    <message>
        <source>Date and time</source>
        <translation>日期时间</translation>
    </message>
    <message>
        <source>UTC offset</source>
        <translation>UTC 时差</translation>
    </message>
    <message>
        <source>Workstation</source>
        <translation>工作站</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Registration</source>
        <translation>车牌号</translation>
    </message>
    <message>
        <source>Customer</source>
        <translation>客户</translation>
    </message>
    <message>
        <source>Battery model</source>
        <translation>电池型号</translation>
    </message>
    <message>
        <source>Tester date</source>
        <translation>检测仪日期</translation>
    </message>
    <message>
        <source>Capacity</source>
        <translation>容量</translation>
    </message>
    <message>
        <source>Overall result</source>
        <translation>总体结果</translation>
    </message>
    <message>
        <source>Battery result</source>
        <translation>蓄电池结果</translation>
    </message>
    <message>
        <source>Battery voltage (V)</source>
        <translation>蓄电池电压 (V)</translation>
    </message>
    <message>
        <source>Measured rating</source>
        <translation>实测额定值</translation>
    </message>
    <message>
        <source>Internal resistance (mOhm)</source>
        <translation>内阻 (mΩ)</translation>
    </message>
    <message>
        <source>Battery percent</source>
        <translation>蓄电池百分比 (%)</translation>
    </message>
    <message>
        <source>Grounding result</source>
        <translation>接地结果</translation>
    </message>
    <message>
        <source>Grounding resistance (mOhm)</source>
        <translation>接地电阻 (mΩ)</translation>
    </message>
    <message>
        <source>Starter result</source>
        <translation>启动结果</translation>
    </message>
    <message>
        <source>Cranking voltage (V)</source>
        <translation>启动电压 (V)</translation>
    </message>
    <message>
        <source>Charging 3K result</source>
        <translation>充电 3K 结果</translation>
    </message>
    <message>
        <source>Charging 3K high (V)</source>
        <translation>充电 3K 高值 (V)</translation>
    </message>
    <message>
        <source>Charging 3K low (V)</source>
        <translation>充电 3K 低值 (V)</translation>
    </message>
    <message>
        <source>Charging 2K result</source>
        <translation>充电 2K 结果</translation>
    </message>
    <message>
        <source>Charging 2K high (V)</source>
        <translation>充电 2K 高值 (V)</translation>
    </message>
    <message>
        <source>Charging 2K low (V)</source>
        <translation>充电 2K 低值 (V)</translation>
    </message>
    <message>
        <source>Avg 2K result</source>
        <translation>纹波 2K 结果</translation>
    </message>
    <message>
        <source>Avg 2K voltage (V)</source>
        <translation>纹波 2K 电压 (V)</translation>
    </message>
</context>
<context>
    <name>HistoryModel</name>
    <message>
        <source>Date and time</source>
        <translation>日期时间</translation>
    </message>
    <message>
        <source>Registration</source>
        <translation>车牌号</translation>
    </message>
    <message>
        <source>Customer</source>
        <translation>客户</translation>
    </message>
    <message>
        <source>Battery model</source>
        <translation>电池型号</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>Workstation</source>
        <translation>工作站</translation>
    </message>
</context>
<context>
    <name>HistoryRules</name>
    <message>
        <source>pass</source>
        <translation>合格</translation>
    </message>
    <message>
        <source>attention</source>
        <translation>注意</translation>
    </message>
    <message>
        <source>no result</source>
        <translation>无结果</translation>
    </message>
</context>
<context>
    <name>HistoryUI</name>
    <message>
        <source>History</source>
        <translation>历史记录</translation>
    </message>
    <message>
        <source>&amp;Search:</source>
        <translation>搜索(&amp;S)：</translation>
    </message>
    <message>
        <source>Registration or customer</source>
        <translation>车牌号或客户</translation>
    </message>
    <message>
        <source>&amp;From</source>
        <translation>从(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;to</source>
        <translation>至(&amp;T)</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>打开(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>删除(&amp;D)</translation>
    </message>
    <message>
        <source>&amp;Export CSV...</source>
        <translation>导出 CSV(&amp;E)…</translation>
    </message>
    <message numerus="yes">
        <source>%n test(s) shown</source>
        <translation>
            <numerusform>显示 %n 条检测记录</numerusform>
        </translation>
    </message>
    <message>
        <source>History not readable: %1</source>
        <translation>无法读取历史记录：%1</translation>
    </message>
    <message>
        <source>That test is no longer kept</source>
        <translation>该检测记录已不存在</translation>
    </message>
    <message>
        <source>Delete failed: %1</source>
        <translation>删除失败：%1</translation>
    </message>
    <message numerus="yes">
        <source>%n test(s) exported</source>
        <translation>
            <numerusform>已导出 %n 条检测记录</numerusform>
        </translation>
    </message>
    <message>
        <source>Export failed: %1</source>
        <translation>导出失败：%1</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message numerus="yes">
        <source>Delete %n kept test(s)? This cannot be undone.</source>
        <translation>
            <numerusform>删除 %n 条检测记录？此操作无法撤销。</numerusform>
        </translation>
    </message>
    <message>
        <source>Export CSV</source>
        <translation>导出 CSV</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>Exporting...</source>
        <translation>正在导出……</translation>
    </message>
    <message>
        <source>Test not opened: %1</source>
        <translation>无法打开该检测记录：%1</translation>
    </message>
</context>
<context>
    <name>MainUI</name>
    <message>
        <source>History of tests (Ctrl+H)</source>
        <translation>检测历史记录 (Ctrl+H)</translation>
    </message>
    <message>
        <source>USB Port</source>
        <translation>USB 端口</translation>
    </message>
    <message>
        <source>Customer</source>
        <translation>客户</translation>
    </message>
    <message>
        <source>Battery Model</source>
        <translation>电池型号</translation>
    </message>
    <message>
        <source>Test Date</source>
        <translation>检测日期</translation>
    </message>
    <message>
        <source>Reg. No.</source>
        <translation>车牌号</translation>
    </message>
    <message>
        <source>Capacity</source>
        <translation>容量</translation>
    </message>
    <message>
        <source>Add to Report</source>
        <translation>添加到报告</translation>
    </message>
    <message>
        <source>Doc Settings</source>
        <translation>文档设置</translation>
    </message>
    <message>
        <source>Query Data</source>
        <translation>读取数据</translation>
    </message>
    <message>
        <source>Print</source>
        <translation>打印</translation>
    </message>
    <message>
        <source>Save As</source>
        <translation>另存为</translation>
    </message>
    <message>
        <source>History</source>
        <translation>历史记录</translation>
    </message>
    <message>
        <source>Battery</source>
        <translation>蓄电池</translation>
    </message>
    <message>
        <source>Grounding</source>
        <translation>接地</translation>
    </message>
    <message>
        <source>Starter</source>
        <translation>启动</translation>
    </message>
    <message>
        <source>Charging 3K</source>
        <translation>充电 3K</translation>
    </message>
    <message>
        <source>Charging 2K</source>
        <translation>充电 2K</translation>
    </message>
    <message>
        <source>Average 2K</source>
        <translation>纹波 2K</translation>
    </message>
    <message>
        <source>no result</source>
        <translation>无结果</translation>
    </message>
    <message>
        <source>pass</source>
        <translation>合格</translation>
    </message>
    <message>
        <source>attention</source>
        <translation>注意</translation>
    </message>
    <message>
        <source>result 3</source>
        <translation>结果 3</translation>
    </message>
    <message>
        <source>replace</source>
        <translation>更换</translation>
    </message>
    <message>
        <source>result %1</source>
        <translation>结果 %1</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>No tester found. Check the cable; the user must be allowed to open serial ports (group dialout).</source>
        <translation>未找到检测仪。请检查连接线；当前用户须有权打开串口（dialout 组）。</translation>
    </message>
    <message>
        <source>No tester found. Check the cable.</source>
        <translation>未找到检测仪。请检查连接线。</translation>
    </message>
    <message>
        <source>Tester port</source>
        <translation>检测仪端口</translation>
    </message>
    <message>
        <source>Battery model</source>
        <translation>电池型号</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>%1: the customer or battery model typed is not in the report yet</source>
        <translation>%1：输入的客户或电池型号尚未加入报告</translation>
    </message>
    <message>
        <source>Customer or battery model typed but not added</source>
        <translation>已输入客户或电池型号，但尚未添加</translation>
    </message>
    <message>
        <source>Query not started: kestrel is busy; try again</source>
        <translation>未开始读取：kestrel 正忙，请重试</translation>
    </message>
    <message>
        <source>Reading the tester on %1...</source>
        <translation>正在从 %1 读取检测仪……</translation>
    </message>
    <message>
        <source>Reading the tester... %1 of %2</source>
        <translation>正在读取检测仪……第 %1 项，共 %2 项</translation>
    </message>
    <message>
        <source>Looking for the tester...</source>
        <translation>正在查找检测仪……</translation>
    </message>
    <message>
        <source>COM - %1</source>
        <translation>串口 - %1</translation>
    </message>
    <message>
        <source>No tester found</source>
        <translation>未找到检测仪</translation>
    </message>
    <message>
        <source>Tester found on %1</source>
        <translation>已在 %1 找到检测仪</translation>
    </message>
    <message>
        <source>the PDF could not be written (see the run log)</source>
        <translation>无法写入 PDF（详见运行日志）</translation>
    </message>
    <message>
        <source>%1: printing is switched off in main.ini (CloseDataPrinter=1)</source>
        <translation>%1：打印已在 main.ini 中关闭（CloseDataPrinter=1）</translation>
    </message>
    <message>
        <source>Printing is switched off in main.ini (CloseDataPrinter=1)</source>
        <translation>打印已在 main.ini 中关闭（CloseDataPrinter=1）</translation>
    </message>
    <message>
        <source>Printing is switched off (CloseDataPrinter=1 in main.ini)</source>
        <translation>打印已关闭（main.ini 中 CloseDataPrinter=1）</translation>
    </message>
    <message>
        <source>Printing is switched on again</source>
        <translation>打印已重新开启</translation>
    </message>
    <message>
        <source>Saved %1</source>
        <translation>已保存 %1</translation>
    </message>
    <message>
        <source>Not saved: %1</source>
        <translation>未保存：%1</translation>
    </message>
    <message>
        <source>Save File</source>
        <translation>保存文件</translation>
    </message>
    <message>
        <source>kestrel is busy; try again</source>
        <translation>kestrel 正忙，请重试</translation>
    </message>
    <message>
        <source>Saving %1...</source>
        <translation>正在保存 %1……</translation>
    </message>
    <message>
        <source>Test read</source>
        <translation>检测数据已读取</translation>
    </message>
    <message>
        <source>Tester did not answer on %1</source>
        <translation>检测仪在 %1 上无应答</translation>
    </message>
    <message>
        <source>the document helper could not write it (details in the Run log)</source>
        <translation>文档助手无法写入（详见运行日志）</translation>
    </message>
    <message>
        <source>the document helper program is missing (SaveDataProcess in main.ini)</source>
        <translation>找不到文档助手程序（main.ini 中的 SaveDataProcess）</translation>
    </message>
    <message>
        <source>the document helper program could not be started</source>
        <translation>文档助手程序无法启动</translation>
    </message>
    <message>
        <source>the document helper ended before it took the report</source>
        <translation>文档助手在接收报告前已退出</translation>
    </message>
    <message>
        <source>the document helper ended while writing the document</source>
        <translation>文档助手在写入文档时退出</translation>
    </message>
    <message>
        <source>the document helper gave no answer in time</source>
        <translation>文档助手未及时应答</translation>
    </message>
    <message>
        <source>the export ended in an unknown way (details in the Run log)</source>
        <translation>导出以未知方式结束（详见运行日志）</translation>
    </message>
    <message>
        <source>Word 97-2003 document (*.doc)</source>
        <translation>Word 97-2003 文档 (*.doc)</translation>
    </message>
    <message>
        <source>Word document (*.docx)</source>
        <translation>Word 文档 (*.docx)</translation>
    </message>
    <message>
        <source>PDF document (*.pdf)</source>
        <translation>PDF 文档 (*.pdf)</translation>
    </message>
    <message>
        <source>the file name is empty</source>
        <translation>文件名为空</translation>
    </message>
    <message>
        <source>the path does not start at a drive or root folder</source>
        <translation>路径不是从驱动器或根目录开始</translation>
    </message>
    <message>
        <source>the path holds “%1” (U+%2), which a document path cannot carry</source>
        <translation>路径中含有“%1”（U+%2），文档路径不能包含该字符</translation>
    </message>
    <message>
        <source>the path is %1 bytes long; at most %2 reach the document</source>
        <translation>路径长 %1 字节，文档最多只能接收 %2 字节</translation>
    </message>
    <message>
        <source>the file name is too long for the file system</source>
        <translation>文件名过长，文件系统无法保存</translation>
    </message>
    <message>
        <source>the folder does not exist</source>
        <translation>文件夹不存在</translation>
    </message>
    <message>
        <source>the folder is a file</source>
        <translation>该文件夹实为文件</translation>
    </message>
    <message>
        <source>a folder of that name is there</source>
        <translation>已有同名文件夹</translation>
    </message>
    <message>
        <source>the document there is read-only</source>
        <translation>该位置的文档为只读</translation>
    </message>
    <message>
        <source>the folder cannot be written</source>
        <translation>无法写入该文件夹</translation>
    </message>
    <message>
        <source>%1 V      
%2 V    %4
%3 V    %5</source>
        <translation>%1 V      
%2 V    %4
%3 V    %5</translation>
    </message>
    <message>
        <source>%6(V↓+V↑)/2 : %1 V
%7  V↑&lt;15.0V : %2 V %4
%8  V↓&lt;13.3V : %3 V %5</source>
        <translation>%6(V↓+V↑)/2 : %1 V
%7  V↑&lt;15.0V : %2 V %4
%8  V↓&lt;13.3V : %3 V %5</translation>
    </message>
    <message>
        <source>%6(V↓+V↑)/2 : %1 V
%7  V↑&lt;13.5V : %2 V %4
%8  V↓&lt;12.5V : %3 V %5</source>
        <translation>%6(V↓+V↑)/2 : %1 V
%7  V↑&lt;13.5V : %2 V %4
%8  V↓&lt;12.5V : %3 V %5</translation>
    </message>
    <message>
        <source>%1 V    %5
%2 %6
%3 mΩ
%4 %    %7</source>
        <translation>%1 V    %5
%2 %6
%3 mΩ
%4 %    %7</translation>
    </message>
    <message>
        <source>%8%1 V %5
%9%2 %6
%10%3 mΩ
%11%4 % %7</source>
        <translation>%8%1 V %5
%9%2 %6
%10%3 mΩ
%11%4 % %7</translation>
    </message>
    <message>
        <source>%1 mΩ   %2</source>
        <translation>%1 mΩ   %2</translation>
    </message>
    <message>
        <source>%3%1 mΩ%2</source>
        <translation>%3%1 mΩ%2</translation>
    </message>
    <message>
        <source>%2 V    %3</source>
        <translation>%2 V    %3</translation>
    </message>
    <message>
        <source>%5%2 V %3</source>
        <translation>%5%2 V %3</translation>
    </message>
    <message>
        <source>%1 V    %2</source>
        <translation>%1 V    %2</translation>
    </message>
    <message>
        <source>%3     &lt;0.50V : %1 V %2</source>
        <translation>%3     &lt;0.50V : %1 V %2</translation>
    </message>
</context>
<context>
    <name>TestRecordRules</name>
    <message>
        <source>%1-%2-%3</source>
        <comment>day, month, year of the tester&apos;s date</comment>
        <translation>%3-%2-%1</translation>
    </message>
</context>
</TS>
