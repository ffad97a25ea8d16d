/* The parameters of the typical job, shared by the Windows test host and the native program it is
 * compared with. Valid C and C++. */
#ifndef ZAV_TESTS_WINE_HOST_SEQUENCE_H
#define ZAV_TESTS_WINE_HOST_SEQUENCE_H

#define kSequenceQuality 2.0f
#define kSequenceCaption L"中文标题 ZAV 图像"
#define kSequenceCaptionUtf8 "中文标题 ZAV 图像"
#define kSequenceTextX 10
#define kSequenceTextY 40
#define kSequenceFontSize 24.0f
#define kSequenceCharSpace 0.1f
#define kSequenceRectColor 0

static const int kSequenceRect[4] = {90, 60, 50, 30};

#endif
