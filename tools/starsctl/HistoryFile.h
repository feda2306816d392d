#pragma once

#include <QString>
#include <QStringList>

// The lines typed at the interactive prompt, kept in a text file one a line
// so that later runs can recall them. Each line is appended as soon as
// it is typed, so a run that is killed loses nothing; the file is cut
// back to the newest lines when it has grown well past its bound.
class HistoryFile
{
public:
    explicit HistoryFile(const QString& path, int maxLines = 500);

    QString path() const { return filePath; }
    // The newest lines in the file, oldest first; cuts the file to its bound.
    QStringList load();
    // Adds a line unless it repeats the newest one; false if it was not added.
    bool append(const QString& line);

private:
    void rewrite();

    QString filePath;
    int lineBound;
    QStringList lines;
};
