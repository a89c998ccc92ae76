// Writes the screenshot as a PNG file with the platform's imaging component (WIC), which
// Windows has built in and Wine provides as well.
#include <wincodec.h>

#include "host.h"

template <typename Interface>
static void Release(Interface*& object) {
    if (object != nullptr)
        object->Release();
    object = nullptr;
}

static HRESULT EncodePng(IWICImagingFactory* factory, const std::wstring& pngFile, UINT width, UINT height,
                         const unsigned char* bgr) {
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    const UINT stride = width * 3;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    HRESULT result = factory->CreateStream(&stream);
    if (SUCCEEDED(result))
        result = stream->InitializeFromFilename(pngFile.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(result))
        result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(result))
        result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(result))
        result = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(result))
        result = frame->Initialize(options);
    if (SUCCEEDED(result))
        result = frame->SetSize(width, height);
    if (SUCCEEDED(result))
        result = frame->SetPixelFormat(&format);
    // The encoder may answer with another format it would rather take; the rows are 24-bit BGR only.
    if (SUCCEEDED(result) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(result))
        result = frame->WritePixels(height, stride, stride * height, const_cast<BYTE*>(bgr));
    if (SUCCEEDED(result))
        result = frame->Commit();
    if (SUCCEEDED(result))
        result = encoder->Commit();
    Release(options);
    Release(frame);
    Release(encoder);
    Release(stream);
    return result;
}

bool WritePng(const std::wstring& pngFile, int width, int height, const unsigned char* bgr) {
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(result))
        result = EncodePng(factory, pngFile, static_cast<UINT>(width), static_cast<UINT>(height), bgr);
    Release(factory);
    if (SUCCEEDED(initialized))
        CoUninitialize();
    return SUCCEEDED(result);
}
