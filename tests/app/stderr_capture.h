#pragma once
// The program's standard error while a test runs, kept in a file of its own
// so that the test can read the lines it wrote.
#include <unistd.h>

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <string>

class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = dup(2);
        file_ = std::tmpfile();
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::fclose(file_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // The lines that begin with "quorvelan: ".
    QStringList Lines() const {
        std::fflush(stderr);
        std::string text;
        std::rewind(file_);
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;)
            text.append(chunk, n);
        std::fseek(file_, 0, SEEK_END);
        QStringList ours;
        for (const QString& line : QString::fromStdString(text).split('\n'))
            if (line.startsWith("quorvelan: "))
                ours << line;
        return ours;
    }
    // The figures lines only.
    QStringList Figures() const {
        return Lines().filter(QRegularExpression("^quorvelan: \\d+ received"));
    }

  private:
    int saved_ = -1;
    FILE* file_ = nullptr;
};
