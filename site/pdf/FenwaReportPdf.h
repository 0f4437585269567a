// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "site/FenwaReport.h"

#include <QImage>

// The handover report as a PDF: the job's HTML laid out on A4 pages
// (landscape) by Qt's
// rich-text engine and written with QPdfWriter, a header line and the page
// number on every page, the charts drawn with QPainter. Latin text is set in
// DejaVu Sans and Chinese in Noto Sans CJK SC (fonts-noto-cjk); the fonts
// used are embedded, so the file reads the same anywhere. Nothing is fetched:
// the HTML names no resource but the two charts, which are supplied here.
//
// Needs Qt Gui (a QGuiApplication, offscreen in fenwa-report); the
// widget-free programs write the HTML form themselves.
namespace FenwaReportPdf {

// Writes the job to path, whole or not at all. False with *error.
bool write(const FenwaReport::PdfJob &job, const QString &path, QString *error);

// A chart as an image of width x height pixels: a bar per count with its
// label and number.
QImage chart(const QList<FenwaReport::Count> &counts, int width, int height);

} // namespace FenwaReportPdf
