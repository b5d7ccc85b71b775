#include "settings/LanguageTable.h"

#include <iterator>

namespace {

struct Row {
    const char* text[kLanguageCount];
};

// Sources are UTF-8; the rows follow the Text enum.
// English, Simplified and Traditional Chinese: a long text takes a line each.
// clang-format off
const Row kRows[] = {
    {{"Tallyport 0104", "Tallyport 0104", "Tallyport 0104"}},
    {{"Reader information", "读卡机信息", "讀卡機訊息"}},
    {{"Parameter setting", "参数设定", "參數設定"}},
    {{"Pause polling", "暂停读卡", "暫停讀卡"}},
    {{"E&xit", "离开(&x)", "離開(&x)"}},
    {{"&Minimized", "最小化(&M)", "最小化(&M)"}},
    {{"&Restore", "还原(&R)", "還原(&R)"}},
    {{"Port", "连接阜", "連接阜"}},
    {{"Baudrate", "速率", "速率"}},
    {{"Reader type", "读卡机类型", "讀卡機類型"}},
    {{"Reader ID", "读卡机ID", "讀卡機ID"}},
    {{"Auto detect reader", "自动侦测读卡机", "自動偵測讀卡機"}},
    {{"Add enter key", "加入换行键", "加入換行鍵"}},
    {{"Add Comma(,)", "加入逗号分隔(,)", "加入逗號分隔(,)"}},
    {{"Start run when I start Windows", "启动 Windows 后，自动执行", "啟動 Windows 後，自動執行"}},
    {{"&Language", "语言", "語言"}},
    {{"Open communication port error!", "开启通讯阜错误!", "開啟通訊阜錯誤!"}},
    {{"Connecting reader ...", "连线读卡机中 ...", "連線讀卡機中 ..."}},
    {{"Connect reader error!", "连线读卡机错误!", "連線讀卡機錯誤!"}},
    {{"Connect reader ok.", "连线读卡机完成.", "連線讀卡機完成."}},
    {{"Read card ...", "读卡中 ...", "讀卡中 ..."}},
    {{"Card ID", "卡片识别码", "卡片識別碼"}},
    {{"Send format", "发送格式", "發送格式"}},
    {{"Card ID Reverse", "卡片识别码反向", "卡片識別碼反向"}},
    {{"Detect reader ...", "侦测读卡机中 ...", "偵測讀卡機中 ..."}},
    {{"Detect reader ok.", "侦测读卡机完成.", "偵測讀卡機完成."}},
    {{"Polling reader ...", "轮询读卡机 ...", "輪詢讀卡機 ..."}},
    {{"Same card filter", "相同卡过滤", "相同卡過濾"}},
    {{"Sec.", "秒", "秒"}},
    {{"Save To File", "储存至档案", "儲存至檔案"}},
    {{"File Path", "档案路径", "檔案路徑"}},
    {{"Time Field", "时间栏位", "時間欄位"}},
    {{"Save to file error!", "储存至档案错误!", "儲存至檔案錯誤!"}},
    {{"Save settings error!", "储存设定错误!", "儲存設定錯誤!"}},
    {{"Settings not saved, the file is not a settings file", "设定未储存, 此档案不是设定档",
      "設定未儲存, 此檔案不是設定檔"}},
    {{"Start at login not changed, cannot write %1", "未能更改登录时自动执行, 无法写入 %1",
      "未能更改登入時自動執行, 無法寫入 %1"}},
    {{"Cards are no longer typed: the connection to the desktop was lost.",
      "卡号不再被输入: 与桌面的连接已中断.", "卡號不再被輸入: 與桌面的連線已中斷."}},
    {{"Cards are typed again.", "卡号恢复输入.", "卡號恢復輸入."}},
    {{"Port %1 does not exist: is the reader plugged in?",
      "通讯阜 %1 不存在: 读卡机是否已连接?",
      "通訊阜 %1 不存在: 讀卡機是否已連接?"}},
    {{"Port %1 is in use by another program: close that program first.",
      "通讯阜 %1 正被其他程序使用: 请先关闭该程序.",
      "通訊阜 %1 正被其他程式使用: 請先關閉該程式."}},
    {{"No permission to open port %1: your user must be in the group \"%2\" "
      "(sudo usermod -aG %2 $USER), then log out and log in again.",
      "没有权限开启通讯阜 %1: 您的用户必须加入群组 \"%2\" "
      "(sudo usermod -aG %2 $USER), 然后注销并重新登录.",
      "沒有權限開啟通訊阜 %1: 您的使用者必須加入群組 \"%2\" "
      "(sudo usermod -aG %2 $USER), 然後登出並重新登入."}},
    {{"No permission to open port %1: ask your administrator for access to it.",
      "没有权限开启通讯阜 %1: 请向系统管理员申请使用权限.",
      "沒有權限開啟通訊阜 %1: 請向系統管理員申請使用權限."}},
    {{"Port %1 is in use by %2 (process %3): close that program first.",
      "通讯阜 %1 正被 %2 (进程 %3) 使用: 请先关闭该程序.",
      "通訊阜 %1 正被 %2 (處理程序 %3) 使用: 請先關閉該程式."}},
    {{"Looking for the reader of port %1 on the other ports ...",
      "在其他通讯阜寻找通讯阜 %1 的读卡机 ...",
      "在其他通訊阜尋找通訊阜 %1 的讀卡機 ..."}},
    {{"The reader moved from port %1 to port %2.",
      "读卡机已从通讯阜 %1 移至通讯阜 %2.",
      "讀卡機已從通訊阜 %1 移至通訊阜 %2."}},
    {{"Port %1 has another reader (%2); it does not replace the reader of port %3.",
      "通讯阜 %1 上是另一台读卡机 (%2); 不会取代通讯阜 %3 的读卡机.",
      "通訊阜 %1 上是另一台讀卡機 (%2); 不會取代通訊阜 %3 的讀卡機."}},
    {{"An earlier installation still starts Tallyport at log-on for all users; an administrator can remove "
      "that with: %1",
      "先前的安装仍会在所有用户登录时启动 Tallyport; 系统管理员可用以下命令移除: %1",
      "先前的安裝仍會在所有使用者登入時啟動 Tallyport; 系統管理員可用以下命令移除: %1"}},
    {{"Keystrokes through: ", "键盘输出方式: ", "鍵盤輸出方式: "}},
    {{"No keystrokes: no desktop to type into.", "无键盘输出: 没有可输入的桌面.", "無鍵盤輸出: 沒有可輸入的桌面."}},
    {{"The desktop refused keystrokes; cards are not typed.", "桌面拒绝了键盘输出, 卡号不会被输入.",
      "桌面拒絕了鍵盤輸出, 卡號不會被輸入."}},
    {{"No desktop portal for keystrokes; cards are not typed.", "没有可用于键盘输出的桌面门户, 卡号不会被输入.",
      "沒有可用於鍵盤輸出的桌面入口, 卡號不會被輸入."}},
    {{"Our window kept the keyboard focus; card not typed.", "本程序窗口仍持有键盘焦点, 卡号未输入.",
      "本程式視窗仍持有鍵盤焦點, 卡號未輸入."}},
    {{"The desktop asks for keystroke permission at every start: it cannot keep the answer.",
      "桌面每次启动时都会询问键盘输出权限: 它无法保存您的回答.",
      "桌面每次啟動時都會詢問鍵盤輸出權限: 它無法保存您的回答."}},
    {{"Card %1 was not typed in full.", "卡号 %1 未完整输入.", "卡號 %1 未完整輸入."}},
    {{"Card %1 not typed: no window of another program has been in front yet.",
      "卡号 %1 未输入: 尚无其他程序的窗口在前台.", "卡號 %1 未輸入: 尚無其他程式的視窗在前景."}},
    {{"Card %1 not typed: the window it was for has been closed.", "卡号 %1 未输入: 目标窗口已关闭.",
      "卡號 %1 未輸入: 目標視窗已關閉."}},
    {{"Card %1 not typed: the window did not take the keyboard focus.", "卡号 %1 未输入: 目标窗口未取得键盘焦点.",
      "卡號 %1 未輸入: 目標視窗未取得鍵盤焦點."}},
    {{"Card %1 not typed: its window belongs to a program run as administrator, which Windows shields "
      "from our keystrokes. Start Tallyport as administrator too.",
      "卡号 %1 未输入: 目标窗口属于以管理员身份运行的程序, Windows 不让本程序向其发送按键. "
      "请同样以管理员身份启动 Tallyport.",
      "卡號 %1 未輸入: 目標視窗屬於以系統管理員身分執行的程式, Windows 不讓本程式向其傳送按鍵. "
      "請同樣以系統管理員身分啟動 Tallyport."}},
    {{"Input method %1: direct input for each card, then back.", "输入法 %1: 输入卡号时暂时切换为直接输入.",
      "輸入法 %1: 輸入卡號時暫時切換為直接輸入."}},
    {{"Input method %1 cannot be switched back by Tallyport on this desktop: cards are typed only while it is off "
      "(English mode).",
      "Tallyport 无法在此桌面上切换回输入法 %1: 仅在其关闭 (英文模式) 时才输入卡号.",
      "Tallyport 無法在此桌面上切換回輸入法 %1: 僅在其關閉 (英文模式) 時才輸入卡號."}},
    {{"Input method %1 cannot be switched by Tallyport: switch it to English mode, or cards may arrive changed.",
      "Tallyport 无法切换输入法 %1: 请切换到英文模式, 否则卡号可能被改变.",
      "Tallyport 無法切換輸入法 %1: 請切換到英文模式, 否則卡號可能被改變."}},
    {{"Card %2 waits: finish or cancel the word you are typing in %1.",
      "卡号 %2 等待中: 请先完成或取消您正在 %1 中输入的词.",
      "卡號 %2 等待中: 請先完成或取消您正在 %1 中輸入的詞."}},
    {{"Card %2 not typed: a word was still being typed in %1.",
      "卡号 %2 未输入: %1 中仍有未完成的词.",
      "卡號 %2 未輸入: %1 中仍有未完成的詞."}},
    {{"Card %2 not typed: input method %1 could not be switched to direct input.",
      "卡号 %2 未输入: 无法将输入法 %1 切换到直接输入.",
      "卡號 %2 未輸入: 無法將輸入法 %1 切換到直接輸入."}},
    {{"Input method %1 could not be put back as it was: check its mode.",
      "无法将输入法 %1 恢复原状: 请检查其输入模式.",
      "無法將輸入法 %1 恢復原狀: 請檢查其輸入模式."}},
    {{"The card log %1 does not answer; cards wait to be saved.", "卡号记录档 %1 没有响应; 卡号等待储存.",
      "卡號記錄檔 %1 沒有回應; 卡號等待儲存."}},
    {{"The card log %1 answers again.", "卡号记录档 %1 已恢复响应.", "卡號記錄檔 %1 已恢復回應."}},
    {{"Card %1 may be missing from the card log %2: it did not answer.",
      "卡号 %1 可能未写入卡号记录档 %2: 它没有响应.", "卡號 %1 可能未寫入卡號記錄檔 %2: 它沒有回應."}},
    {{"Card log %1 not used: the file belongs to another user.", "未使用卡号记录档 %1: 此档案属于其他用户.",
      "未使用卡號記錄檔 %1: 此檔案屬於其他使用者."}},
    {{"Settings file %1 not used: the file belongs to another user.", "未使用设定档 %1: 此档案属于其他用户.",
      "未使用設定檔 %1: 此檔案屬於其他使用者."}},
};
// clang-format on

// One row for every text, no more and no fewer.
static_assert(std::size(kRows) == static_cast<std::size_t>(Text::Count));

const LanguageFont kFonts[kLanguageCount] = {
    {"MS Sans Serif", 0, 10, 0, 0x00000000},
    {"宋体", 134, 12, 0, 0x00000000},
    {"細明體", 136, 12, 0, 0x00000000},
};

}  // namespace

int validLanguage(int language)
{
    return language >= 0 && language < kLanguageCount ? language : 0;
}

QString LanguageTable(Text key, int language)
{
    return QString::fromUtf8(kRows[static_cast<int>(key)].text[validLanguage(language)]);
}

const LanguageFont& languageFont(int language)
{
    return kFonts[validLanguage(language)];
}

QString languageName(int language)
{
    static const char* const names[kLanguageCount]
        = {"English", "简体中文(Chinese Simplified)", "繁體中文(Chinese Traditional)"};
    return QString::fromUtf8(names[validLanguage(language)]);
}
