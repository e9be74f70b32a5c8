// GDI+, CNG and the Compression API bound from System32 at first use (see
// system_dlls.h): the program defines the functions their headers declare,
// each forwarding to the DLL's own, so that callers stay plain calls and the
// executable imports none of these DLLs. A function that cannot be bound
// fails the way its DLL reports a failure.
#include <windows.h>
#include <bcrypt.h>
#include <compressapi.h>
#include <gdiplus.h>

#include "platform/win32/system_dlls.h"

// The DLL's own function, looked up once; `fail` where there is none.
#define VELMO_FORWARD(dll, fail, name, ...)                                                   \
  static const auto bound = velmo::systemFunction<decltype(&name)>(dll, #name);               \
  return bound ? bound(__VA_ARGS__) : fail

namespace Gdiplus {
extern "C" {

#define VELMO_GDIPLUS_CALL(name, ...) VELMO_FORWARD(L"gdiplus.dll", Win32Error, name, __VA_ARGS__)

GpStatus WINGDIPAPI GdiplusStartup(ULONG_PTR* a0, GDIPCONST GdiplusStartupInput* a1, GdiplusStartupOutput* a2) {
  VELMO_GDIPLUS_CALL(GdiplusStartup, a0, a1, a2);
}

namespace DllExports {
// clang-format off
GpStatus WINGDIPAPI GdipAddPathArc(GpPath* a0, REAL a1, REAL a2, REAL a3, REAL a4, REAL a5, REAL a6) { VELMO_GDIPLUS_CALL(GdipAddPathArc, a0, a1, a2, a3, a4, a5, a6); }
GpStatus WINGDIPAPI GdipAddPathRectangle(GpPath* a0, REAL a1, REAL a2, REAL a3, REAL a4) { VELMO_GDIPLUS_CALL(GdipAddPathRectangle, a0, a1, a2, a3, a4); }
GpStatus WINGDIPAPI GdipBitmapLockBits(GpBitmap* a0, GDIPCONST GpRect* a1, UINT a2, PixelFormat a3, BitmapData* a4) { VELMO_GDIPLUS_CALL(GdipBitmapLockBits, a0, a1, a2, a3, a4); }
GpStatus WINGDIPAPI GdipBitmapUnlockBits(GpBitmap* a0, BitmapData* a1) { VELMO_GDIPLUS_CALL(GdipBitmapUnlockBits, a0, a1); }
GpStatus WINGDIPAPI GdipClosePathFigure(GpPath* a0) { VELMO_GDIPLUS_CALL(GdipClosePathFigure, a0); }
GpStatus WINGDIPAPI GdipCreateBitmapFromScan0(INT a0, INT a1, INT a2, PixelFormat a3, BYTE* a4, GpBitmap** a5) { VELMO_GDIPLUS_CALL(GdipCreateBitmapFromScan0, a0, a1, a2, a3, a4, a5); }
GpStatus WINGDIPAPI GdipCreateBitmapFromStream(IStream* a0, GpBitmap** a1) { VELMO_GDIPLUS_CALL(GdipCreateBitmapFromStream, a0, a1); }
GpStatus WINGDIPAPI GdipCreateFont(GDIPCONST GpFontFamily* a0, REAL a1, INT a2, Unit a3, GpFont** a4) { VELMO_GDIPLUS_CALL(GdipCreateFont, a0, a1, a2, a3, a4); }
GpStatus WINGDIPAPI GdipCreateFontFamilyFromName(GDIPCONST WCHAR* a0, GpFontCollection* a1, GpFontFamily** a2) { VELMO_GDIPLUS_CALL(GdipCreateFontFamilyFromName, a0, a1, a2); }
GpStatus WINGDIPAPI GdipCreateImageAttributes(GpImageAttributes** a0) { VELMO_GDIPLUS_CALL(GdipCreateImageAttributes, a0); }
GpStatus WINGDIPAPI GdipCreateLineBrush(GDIPCONST GpPointF* a0, GDIPCONST GpPointF* a1, ARGB a2, ARGB a3, GpWrapMode a4, GpLineGradient** a5) { VELMO_GDIPLUS_CALL(GdipCreateLineBrush, a0, a1, a2, a3, a4, a5); }
GpStatus WINGDIPAPI GdipCreatePath(GpFillMode a0, GpPath** a1) { VELMO_GDIPLUS_CALL(GdipCreatePath, a0, a1); }
GpStatus WINGDIPAPI GdipCreatePen1(ARGB a0, REAL a1, GpUnit a2, GpPen** a3) { VELMO_GDIPLUS_CALL(GdipCreatePen1, a0, a1, a2, a3); }
GpStatus WINGDIPAPI GdipCreateSolidFill(ARGB a0, GpSolidFill** a1) { VELMO_GDIPLUS_CALL(GdipCreateSolidFill, a0, a1); }
GpStatus WINGDIPAPI GdipCreateStringFormat(INT a0, LANGID a1, GpStringFormat** a2) { VELMO_GDIPLUS_CALL(GdipCreateStringFormat, a0, a1, a2); }
GpStatus WINGDIPAPI GdipDeleteBrush(GpBrush* a0) { VELMO_GDIPLUS_CALL(GdipDeleteBrush, a0); }
GpStatus WINGDIPAPI GdipDeleteFont(GpFont* a0) { VELMO_GDIPLUS_CALL(GdipDeleteFont, a0); }
GpStatus WINGDIPAPI GdipDeleteFontFamily(GpFontFamily* a0) { VELMO_GDIPLUS_CALL(GdipDeleteFontFamily, a0); }
GpStatus WINGDIPAPI GdipDeleteGraphics(GpGraphics* a0) { VELMO_GDIPLUS_CALL(GdipDeleteGraphics, a0); }
GpStatus WINGDIPAPI GdipDeletePath(GpPath* a0) { VELMO_GDIPLUS_CALL(GdipDeletePath, a0); }
GpStatus WINGDIPAPI GdipDeletePen(GpPen* a0) { VELMO_GDIPLUS_CALL(GdipDeletePen, a0); }
GpStatus WINGDIPAPI GdipDeleteStringFormat(GpStringFormat* a0) { VELMO_GDIPLUS_CALL(GdipDeleteStringFormat, a0); }
GpStatus WINGDIPAPI GdipDisposeImage(GpImage* a0) { VELMO_GDIPLUS_CALL(GdipDisposeImage, a0); }
GpStatus WINGDIPAPI GdipDisposeImageAttributes(GpImageAttributes* a0) { VELMO_GDIPLUS_CALL(GdipDisposeImageAttributes, a0); }
GpStatus WINGDIPAPI GdipDrawImageRectRect(GpGraphics* a0, GpImage* a1, REAL a2, REAL a3, REAL a4, REAL a5, REAL a6, REAL a7, REAL a8, REAL a9, GpUnit a10, GDIPCONST GpImageAttributes* a11, DrawImageAbort a12, VOID* a13) { VELMO_GDIPLUS_CALL(GdipDrawImageRectRect, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13); }
GpStatus WINGDIPAPI GdipDrawLine(GpGraphics* a0, GpPen* a1, REAL a2, REAL a3, REAL a4, REAL a5) { VELMO_GDIPLUS_CALL(GdipDrawLine, a0, a1, a2, a3, a4, a5); }
GpStatus WINGDIPAPI GdipDrawPath(GpGraphics* a0, GpPen* a1, GpPath* a2) { VELMO_GDIPLUS_CALL(GdipDrawPath, a0, a1, a2); }
GpStatus WINGDIPAPI GdipDrawString(GpGraphics* a0, GDIPCONST WCHAR* a1, INT a2, GDIPCONST GpFont* a3, GDIPCONST RectF* a4, GDIPCONST GpStringFormat* a5, GDIPCONST GpBrush* a6) { VELMO_GDIPLUS_CALL(GdipDrawString, a0, a1, a2, a3, a4, a5, a6); }
GpStatus WINGDIPAPI GdipFillEllipse(GpGraphics* a0, GpBrush* a1, REAL a2, REAL a3, REAL a4, REAL a5) { VELMO_GDIPLUS_CALL(GdipFillEllipse, a0, a1, a2, a3, a4, a5); }
GpStatus WINGDIPAPI GdipFillPath(GpGraphics* a0, GpBrush* a1, GpPath* a2) { VELMO_GDIPLUS_CALL(GdipFillPath, a0, a1, a2); }
GpStatus WINGDIPAPI GdipFlush(GpGraphics* a0, GpFlushIntention a1) { VELMO_GDIPLUS_CALL(GdipFlush, a0, a1); }
GpStatus WINGDIPAPI GdipGetFamilyName(GDIPCONST GpFontFamily* a0, WCHAR a1[LF_FACESIZE], LANGID a2) { VELMO_GDIPLUS_CALL(GdipGetFamilyName, a0, a1, a2); }
GpStatus WINGDIPAPI GdipGetFontCollectionFamilyCount(GpFontCollection* a0, INT* a1) { VELMO_GDIPLUS_CALL(GdipGetFontCollectionFamilyCount, a0, a1); }
GpStatus WINGDIPAPI GdipGetFontCollectionFamilyList(GpFontCollection* a0, INT a1, GpFontFamily** a2, INT* a3) { VELMO_GDIPLUS_CALL(GdipGetFontCollectionFamilyList, a0, a1, a2, a3); }
GpStatus WINGDIPAPI GdipGetGenericFontFamilySansSerif(GpFontFamily** a0) { VELMO_GDIPLUS_CALL(GdipGetGenericFontFamilySansSerif, a0); }
GpStatus WINGDIPAPI GdipGetGenericFontFamilySerif(GpFontFamily** a0) { VELMO_GDIPLUS_CALL(GdipGetGenericFontFamilySerif, a0); }
GpStatus WINGDIPAPI GdipGetImageGraphicsContext(GpImage* a0, GpGraphics** a1) { VELMO_GDIPLUS_CALL(GdipGetImageGraphicsContext, a0, a1); }
GpStatus WINGDIPAPI GdipGetImageHeight(GpImage* a0, UINT* a1) { VELMO_GDIPLUS_CALL(GdipGetImageHeight, a0, a1); }
GpStatus WINGDIPAPI GdipGetImageWidth(GpImage* a0, UINT* a1) { VELMO_GDIPLUS_CALL(GdipGetImageWidth, a0, a1); }
GpStatus WINGDIPAPI GdipMeasureString(GpGraphics* a0, GDIPCONST WCHAR* a1, INT a2, GDIPCONST GpFont* a3, GDIPCONST RectF* a4, GDIPCONST GpStringFormat* a5, RectF* a6, INT* a7, INT* a8) { VELMO_GDIPLUS_CALL(GdipMeasureString, a0, a1, a2, a3, a4, a5, a6, a7, a8); }
GpStatus WINGDIPAPI GdipNewInstalledFontCollection(GpFontCollection** a0) { VELMO_GDIPLUS_CALL(GdipNewInstalledFontCollection, a0); }
GpStatus WINGDIPAPI GdipResetClip(GpGraphics* a0) { VELMO_GDIPLUS_CALL(GdipResetClip, a0); }
GpStatus WINGDIPAPI GdipSetClipRect(GpGraphics* a0, REAL a1, REAL a2, REAL a3, REAL a4, CombineMode a5) { VELMO_GDIPLUS_CALL(GdipSetClipRect, a0, a1, a2, a3, a4, a5); }
GpStatus WINGDIPAPI GdipSetImageAttributesWrapMode(GpImageAttributes* a0, WrapMode a1, ARGB a2, BOOL a3) { VELMO_GDIPLUS_CALL(GdipSetImageAttributesWrapMode, a0, a1, a2, a3); }
GpStatus WINGDIPAPI GdipSetInterpolationMode(GpGraphics* a0, InterpolationMode a1) { VELMO_GDIPLUS_CALL(GdipSetInterpolationMode, a0, a1); }
GpStatus WINGDIPAPI GdipSetPixelOffsetMode(GpGraphics* a0, PixelOffsetMode a1) { VELMO_GDIPLUS_CALL(GdipSetPixelOffsetMode, a0, a1); }
GpStatus WINGDIPAPI GdipSetSmoothingMode(GpGraphics* a0, SmoothingMode a1) { VELMO_GDIPLUS_CALL(GdipSetSmoothingMode, a0, a1); }
GpStatus WINGDIPAPI GdipSetStringFormatAlign(GpStringFormat* a0, StringAlignment a1) { VELMO_GDIPLUS_CALL(GdipSetStringFormatAlign, a0, a1); }
GpStatus WINGDIPAPI GdipSetStringFormatLineAlign(GpStringFormat* a0, StringAlignment a1) { VELMO_GDIPLUS_CALL(GdipSetStringFormatLineAlign, a0, a1); }
GpStatus WINGDIPAPI GdipSetStringFormatTrimming(GpStringFormat* a0, StringTrimming a1) { VELMO_GDIPLUS_CALL(GdipSetStringFormatTrimming, a0, a1); }
GpStatus WINGDIPAPI GdipSetTextRenderingHint(GpGraphics* a0, TextRenderingHint a1) { VELMO_GDIPLUS_CALL(GdipSetTextRenderingHint, a0, a1); }
// clang-format on
}  // namespace DllExports

}  // extern "C"
}  // namespace Gdiplus

// STATUS_NOT_FOUND: what CNG returns for an algorithm it does not have.
#define VELMO_BCRYPT_CALL(name, ...) VELMO_FORWARD(L"bcrypt.dll", NTSTATUS(0xC0000225), name, __VA_ARGS__)

extern "C" {

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* a0, LPCWSTR a1, LPCWSTR a2, ULONG a3) {
  VELMO_BCRYPT_CALL(BCryptOpenAlgorithmProvider, a0, a1, a2, a3);
}
NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE a0, ULONG a1) {
  VELMO_BCRYPT_CALL(BCryptCloseAlgorithmProvider, a0, a1);
}
NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE a0, BCRYPT_HASH_HANDLE* a1, PUCHAR a2, ULONG a3, PUCHAR a4, ULONG a5,
                                 ULONG a6) {
  VELMO_BCRYPT_CALL(BCryptCreateHash, a0, a1, a2, a3, a4, a5, a6);
}
NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE a0, PUCHAR a1, ULONG a2, ULONG a3) {
  VELMO_BCRYPT_CALL(BCryptHashData, a0, a1, a2, a3);
}
NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE a0, PUCHAR a1, ULONG a2, ULONG a3) {
  VELMO_BCRYPT_CALL(BCryptFinishHash, a0, a1, a2, a3);
}
NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE a0) { VELMO_BCRYPT_CALL(BCryptDestroyHash, a0); }

// Without Cabinet.dll the decompressor cannot be created, and LZMS items
// fail as damaged ones do.
WINBOOL WINAPI CreateDecompressor(DWORD a0, PCOMPRESS_ALLOCATION_ROUTINES a1, PDECOMPRESSOR_HANDLE a2) {
  VELMO_FORWARD(L"cabinet.dll", FALSE, CreateDecompressor, a0, a1, a2);
}
WINBOOL WINAPI Decompress(DECOMPRESSOR_HANDLE a0, PVOID a1, SIZE_T a2, PVOID a3, SIZE_T a4, PSIZE_T a5) {
  VELMO_FORWARD(L"cabinet.dll", FALSE, Decompress, a0, a1, a2, a3, a4, a5);
}
WINBOOL WINAPI CloseDecompressor(DECOMPRESSOR_HANDLE a0) { VELMO_FORWARD(L"cabinet.dll", FALSE, CloseDecompressor, a0); }
WINBOOL WINAPI CreateCompressor(DWORD a0, PCOMPRESS_ALLOCATION_ROUTINES a1, PCOMPRESSOR_HANDLE a2) {
  VELMO_FORWARD(L"cabinet.dll", FALSE, CreateCompressor, a0, a1, a2);
}
WINBOOL WINAPI Compress(COMPRESSOR_HANDLE a0, PVOID a1, SIZE_T a2, PVOID a3, SIZE_T a4, PSIZE_T a5) {
  VELMO_FORWARD(L"cabinet.dll", FALSE, Compress, a0, a1, a2, a3, a4, a5);
}
WINBOOL WINAPI CloseCompressor(COMPRESSOR_HANDLE a0) { VELMO_FORWARD(L"cabinet.dll", FALSE, CloseCompressor, a0); }

}  // extern "C"
