#include "ui/FileListModel.h"

#include "probe/JoinRules.h"
#include "probe/MediaText.h"

#include <QApplication>
#include <QLocale>
#include <QStyle>
#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

// A text of the core's with the user's decimal separator: a point between
// two digits is one ("44.1 kHz", "0:00:02.01").
QString Localized(const std::string& Text)
{
    QString Result = QString::fromStdString(Text);
    const QString Point = QLocale().decimalPoint();
    for (qsizetype I = Result.size() - 2; I > 0; --I)
        if (Result[I] == '.' && Result[I - 1].isDigit() && Result[I + 1].isDigit())
            Result.replace(I, 1, Point);
    return Result;
}

// The runs of consecutive rows in ascending Rows, as first and last.
std::vector<std::pair<int, int>> Runs(const std::vector<int>& Rows)
{
    std::vector<std::pair<int, int>> Result;
    for (const int Row : Rows)
        if (!Result.empty() && Result.back().second + 1 == Row)
            Result.back().second = Row;
        else
            Result.emplace_back(Row, Row);
    return Result;
}

} // namespace

QString FrameSizeText(const TMediaInfo& Info)
{
    // H.264 says fields or frames, its coding, profile and level:
    // "1920 x 1080i H.264 High@4.0".
    if (Info.MPEGVersion == 4) {
        const std::string Detail = VideoDetailText(Info);
        return QString("%1 x %2%3 H.264").arg(Info.Width).arg(Info.Height).arg(Info.Progressive ? "p" : "i") +
               (Detail.empty() ? QString() : " " + QString::fromStdString(Detail));
    }
    // MPEG-2 says its shape and version too: "720 x 576 16:9 MPEG-2".
    const std::string Video = VideoText(Info);
    const std::size_t Fps = Video.find(" fps ");
    return QString("%1 x %2").arg(Info.Width).arg(Info.Height) +
           (Fps == std::string::npos ? QString() : QString::fromStdString(Video.substr(Fps + 4)));
}

QString FrameRateText(double FrameRate)
{
    return QLocale().toString(FrameRate, 'f', 2);
}

QString DesktopSizeText(std::int64_t Bytes)
{
    return QLocale().formattedDataSize(Bytes, 1, QLocale::DataSizeSIFormat);
}

int TFileListModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : Count();
}

int TFileListModel::columnCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : lcCount;
}

QString TFileListModel::StatusText(int Row) const
{
    const TListRow& R = m_Rows[static_cast<std::size_t>(Row)];
    if (R.Missing)
        return "Missing";
    return R.Unreadable.isEmpty() ? FormatMatchText(CompareMediaInfo(Record(0).Info, R.Record.Info))
                                  : QString("Unreadable");
}

QVariant TFileListModel::data(const QModelIndex& Index, int Role) const
{
    if (!checkIndex(Index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TListRow& R = m_Rows[static_cast<std::size_t>(Index.row())];
    const TMediaInfo& Info = R.Record.Info;
    const TMediaInfo& Reference = Record(0).Info;
    const int Column = Index.column();
    if (Role == Qt::DisplayRole) {
        switch (Column) {
        case lcFileName: return FileName(Index.row());
        case lcFrameSize: return FrameSizeText(Info);
        case lcFrameRate: return FrameRateText(Info.FrameRate);
        case lcDuration: return Localized(DurationText(Info.Duration));
        case lcAudio: return Localized(AudioText(Info));
        case lcStatus: return StatusText(Index.row());
        }
    }
    // Cells a narrow window elides are whole in their tips.
    if (Role == Qt::ToolTipRole && Column == lcFileName)
        return FileName(Index.row());
    if (Role == Qt::ToolTipRole && Column == lcAudio)
        return Localized(AudioText(Info));
    if (Role == Qt::ToolTipRole && Column == lcFrameSize && Info.MPEGVersion == 2)
        return QString::fromStdString(VideoDetailText(Info));
    if (Role == Qt::ToolTipRole && Column == lcStatus && R.Missing)
        return QString("The file was moved or deleted.");
    if (Role == Qt::ToolTipRole && Column == lcStatus)
        return R.Unreadable.isEmpty() ? QString::fromStdString(DifferenceText(Reference, Info))
                                      : R.Unreadable;
    // A row that cannot be joined as it is stands out in a long list by its
    // sign, not only by its word; one that joins but will look stretched is
    // marked too, with the milder sign.
    if (Role == Qt::DecorationRole && Column == lcStatus) {
        const TFormatMatch Match = CompareMediaInfo(Reference, Info);
        if (R.Missing || !R.Unreadable.isEmpty() || Match == fmVideoDiffers)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
        if (Match == fmAudioDiffers || AspectRatioDiffers(Reference, Info))
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    }
    if (Role == Qt::TextAlignmentRole && Column == lcDuration)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TFileListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    static const char* const Titles[lcCount] = {"File name", "Frame size", "Frame rate",
                                                "Duration",  "Audio",      "Status"};
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= lcCount)
        return {};
    if (Role == Qt::DisplayRole)
        return QString(Titles[Section]);
    if (Role == Qt::TextAlignmentRole && Section == lcDuration)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& Index) const
{
    return Index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
                           : Qt::ItemIsDropEnabled;
}

QString TFileListModel::TotalsText() const
{
    double Seconds = 0;
    for (const TListRow& R : m_Rows)
        Seconds += R.Record.Info.Duration;
    return QString("%1 %2, %3")
        .arg(QLocale().toString(Count()))
        .arg(Count() == 1 ? "file" : "files")
        .arg(Localized(DurationText(Seconds)));
}

QString TFileListModel::SizeText() const
{
    std::int64_t Bytes = 0;
    for (const TListRow& R : m_Rows)
        Bytes += R.Record.Identity.Size;
    return DesktopSizeText(Bytes);
}

std::vector<TInputRecord> TFileListModel::Records() const
{
    std::vector<TInputRecord> Result;
    for (const TListRow& R : m_Rows)
        Result.push_back(R.Record);
    return Result;
}

void TFileListModel::StatusesChanged()
{
    if (Count() > 0)
        emit dataChanged(index(0, lcStatus), index(Count() - 1, lcStatus));
}

void TFileListModel::Append(std::vector<TListRow> Rows)
{
    if (Rows.empty())
        return;
    beginInsertRows({}, Count(), Count() + static_cast<int>(Rows.size()) - 1);
    m_Rows.insert(m_Rows.end(), std::make_move_iterator(Rows.begin()), std::make_move_iterator(Rows.end()));
    endInsertRows();
}

std::vector<TListRow> TFileListModel::Take(const std::vector<int>& Rows)
{
    std::vector<TListRow> Taken;
    for (const int Row : Rows)
        Taken.push_back(m_Rows[static_cast<std::size_t>(Row)]);
    const bool FirstGone = !Rows.empty() && Rows.front() == 0;
    const auto Spans = Runs(Rows);
    for (auto Span = Spans.rbegin(); Span != Spans.rend(); ++Span) {
        beginRemoveRows({}, Span->first, Span->second);
        m_Rows.erase(m_Rows.begin() + Span->first, m_Rows.begin() + Span->second + 1);
        endRemoveRows();
    }
    if (FirstGone)
        StatusesChanged();
    return Taken;
}

void TFileListModel::Put(const std::vector<int>& Rows, std::vector<TListRow> Taken)
{
    std::size_t Next = 0;
    for (const auto& [First, Last] : Runs(Rows)) {
        beginInsertRows({}, First, Last);
        for (int Row = First; Row <= Last; ++Row)
            m_Rows.insert(m_Rows.begin() + Row, std::move(Taken[Next++]));
        endInsertRows();
    }
    if (!Rows.empty() && Rows.front() == 0)
        StatusesChanged();
}

void TFileListModel::Reorder(const std::vector<int>& Order)
{
    const bool NewFirst = !Order.empty() && Order.front() != 0;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<TListRow> Rows;
    std::vector<int> NewRow(Order.size());
    for (std::size_t I = 0; I < Order.size(); ++I) {
        Rows.push_back(std::move(m_Rows[static_cast<std::size_t>(Order[I])]));
        NewRow[static_cast<std::size_t>(Order[I])] = static_cast<int>(I);
    }
    m_Rows = std::move(Rows);
    const QModelIndexList Old = persistentIndexList();
    QModelIndexList New;
    for (const QModelIndex& Index : Old)
        New << index(NewRow[static_cast<std::size_t>(Index.row())], Index.column());
    changePersistentIndexList(Old, New);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    if (NewFirst)
        StatusesChanged();
}

void TFileListModel::SetRecord(int Row, TInputRecord Record)
{
    m_Rows[static_cast<std::size_t>(Row)] = {std::move(Record), {}, false};
    emit dataChanged(index(Row, 0), index(Row, lcCount - 1));
    if (Row == 0)
        StatusesChanged();
}

void TFileListModel::SetUnreadable(int Row, const QString& Why)
{
    m_Rows[static_cast<std::size_t>(Row)].Unreadable = Why;
    emit dataChanged(index(Row, lcStatus), index(Row, lcStatus));
}

void TFileListModel::SetMissing(int Row, bool Missing)
{
    if (std::exchange(m_Rows[static_cast<std::size_t>(Row)].Missing, Missing) != Missing)
        emit dataChanged(index(Row, lcStatus), index(Row, lcStatus));
}

} // namespace vantrel
