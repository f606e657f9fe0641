// The tracing device on the real Direct3D 9. Its IDirect3DDevice9 has 119 methods; the ones the
// viewer calls are traced by the shared base (TraceDevice.cpp), and the rest are here, passed
// on unchanged and without a trace line (a0, a1, ... are the arguments in the interface's
// order). Objects they hand out (surfaces, swap chains, a bound buffer) are the runtime's own.
#include "tools/capture/TraceDevice.h"
#include "tools/capture/TraceDeviceBase.h"

namespace {

class TraceVertexBuffer final : public TraceVertexBufferBase {
public:
    using TraceVertexBufferBase::TraceVertexBufferBase;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualGUID(riid, __uuidof(IUnknown)) || IsEqualGUID(riid, __uuidof(IDirect3DResource9)) ||
            IsEqualGUID(riid, __uuidof(IDirect3DVertexBuffer9))) {
            AddRef();
            *object = static_cast<IDirect3DVertexBuffer9*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    // The device that made the buffer, as the viewer sees it: the tracing one.
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override {
        if (device == nullptr || state_->device == nullptr) {
            return D3DERR_INVALIDCALL;
        }
        state_->device->AddRef();
        *device = state_->device;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID a0, const void* a1, DWORD a2, DWORD a3) override {
        return inner_->SetPrivateData(a0, a1, a2, a3);
    }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID a0, void* a1, DWORD* a2) override {
        return inner_->GetPrivateData(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID a0) override { return inner_->FreePrivateData(a0); }
    DWORD STDMETHODCALLTYPE SetPriority(DWORD a0) override { return inner_->SetPriority(a0); }
    DWORD STDMETHODCALLTYPE GetPriority() override { return inner_->GetPriority(); }
    void STDMETHODCALLTYPE PreLoad() override { inner_->PreLoad(); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return inner_->GetType(); }
    HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* a0) override { return inner_->GetDesc(a0); }
};

class TraceDevice final : public TraceDeviceBase {
public:
    using TraceDeviceBase::TraceDeviceBase;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualGUID(riid, __uuidof(IUnknown)) || IsEqualGUID(riid, __uuidof(IDirect3DDevice9))) {
            AddRef();
            *object = static_cast<IDirect3DDevice9*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override { return inner_->TestCooperativeLevel(); }
    UINT STDMETHODCALLTYPE GetAvailableTextureMem() override { return inner_->GetAvailableTextureMem(); }
    HRESULT STDMETHODCALLTYPE EvictManagedResources() override { return inner_->EvictManagedResources(); }
    HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9** a0) override { return inner_->GetDirect3D(a0); }
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9* a0) override { return inner_->GetDeviceCaps(a0); }
    HRESULT STDMETHODCALLTYPE GetDisplayMode(UINT a0, D3DDISPLAYMODE* a1) override {
        return inner_->GetDisplayMode(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* a0) override {
        return inner_->GetCreationParameters(a0);
    }
    HRESULT STDMETHODCALLTYPE SetCursorProperties(UINT a0, UINT a1, IDirect3DSurface9* a2) override {
        return inner_->SetCursorProperties(a0, a1, a2);
    }
    void STDMETHODCALLTYPE SetCursorPosition(int a0, int a1, DWORD a2) override {
        inner_->SetCursorPosition(a0, a1, a2);
    }
    BOOL STDMETHODCALLTYPE ShowCursor(BOOL a0) override { return inner_->ShowCursor(a0); }
    HRESULT STDMETHODCALLTYPE CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* a0, IDirect3DSwapChain9** a1) override {
        return inner_->CreateAdditionalSwapChain(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetSwapChain(UINT a0, IDirect3DSwapChain9** a1) override {
        return inner_->GetSwapChain(a0, a1);
    }
    UINT STDMETHODCALLTYPE GetNumberOfSwapChains() override { return inner_->GetNumberOfSwapChains(); }
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* a0) override { return inner_->Reset(a0); }
    HRESULT STDMETHODCALLTYPE GetBackBuffer(UINT a0, UINT a1, D3DBACKBUFFER_TYPE a2, IDirect3DSurface9** a3) override {
        return inner_->GetBackBuffer(a0, a1, a2, a3);
    }
    HRESULT STDMETHODCALLTYPE GetRasterStatus(UINT a0, D3DRASTER_STATUS* a1) override {
        return inner_->GetRasterStatus(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetDialogBoxMode(BOOL a0) override { return inner_->SetDialogBoxMode(a0); }
    void STDMETHODCALLTYPE SetGammaRamp(UINT a0, DWORD a1, const D3DGAMMARAMP* a2) override {
        inner_->SetGammaRamp(a0, a1, a2);
    }
    void STDMETHODCALLTYPE GetGammaRamp(UINT a0, D3DGAMMARAMP* a1) override { inner_->GetGammaRamp(a0, a1); }
    HRESULT STDMETHODCALLTYPE CreateTexture(UINT a0, UINT a1, UINT a2, DWORD a3, D3DFORMAT a4, D3DPOOL a5,
                                            IDirect3DTexture9** a6, HANDLE* a7) override {
        return inner_->CreateTexture(a0, a1, a2, a3, a4, a5, a6, a7);
    }
    HRESULT STDMETHODCALLTYPE CreateVolumeTexture(UINT a0, UINT a1, UINT a2, UINT a3, DWORD a4, D3DFORMAT a5,
                                                  D3DPOOL a6, IDirect3DVolumeTexture9** a7, HANDLE* a8) override {
        return inner_->CreateVolumeTexture(a0, a1, a2, a3, a4, a5, a6, a7, a8);
    }
    HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT a0, UINT a1, DWORD a2, D3DFORMAT a3, D3DPOOL a4,
                                                IDirect3DCubeTexture9** a5, HANDLE* a6) override {
        return inner_->CreateCubeTexture(a0, a1, a2, a3, a4, a5, a6);
    }
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT a0, DWORD a1, D3DFORMAT a2, D3DPOOL a3, IDirect3DIndexBuffer9** a4,
                                                HANDLE* a5) override {
        return inner_->CreateIndexBuffer(a0, a1, a2, a3, a4, a5);
    }
    HRESULT STDMETHODCALLTYPE CreateRenderTarget(UINT a0, UINT a1, D3DFORMAT a2, D3DMULTISAMPLE_TYPE a3, DWORD a4,
                                                 BOOL a5, IDirect3DSurface9** a6, HANDLE* a7) override {
        return inner_->CreateRenderTarget(a0, a1, a2, a3, a4, a5, a6, a7);
    }
    HRESULT STDMETHODCALLTYPE CreateDepthStencilSurface(UINT a0, UINT a1, D3DFORMAT a2, D3DMULTISAMPLE_TYPE a3,
                                                        DWORD a4, BOOL a5, IDirect3DSurface9** a6,
                                                        HANDLE* a7) override {
        return inner_->CreateDepthStencilSurface(a0, a1, a2, a3, a4, a5, a6, a7);
    }
    HRESULT STDMETHODCALLTYPE UpdateSurface(IDirect3DSurface9* a0, const RECT* a1, IDirect3DSurface9* a2,
                                            const POINT* a3) override {
        return inner_->UpdateSurface(a0, a1, a2, a3);
    }
    HRESULT STDMETHODCALLTYPE UpdateTexture(IDirect3DBaseTexture9* a0, IDirect3DBaseTexture9* a1) override {
        return inner_->UpdateTexture(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetRenderTargetData(IDirect3DSurface9* a0, IDirect3DSurface9* a1) override {
        return inner_->GetRenderTargetData(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetFrontBufferData(UINT a0, IDirect3DSurface9* a1) override {
        return inner_->GetFrontBufferData(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE StretchRect(IDirect3DSurface9* a0, const RECT* a1, IDirect3DSurface9* a2, const RECT* a3,
                                          D3DTEXTUREFILTERTYPE a4) override {
        return inner_->StretchRect(a0, a1, a2, a3, a4);
    }
    HRESULT STDMETHODCALLTYPE ColorFill(IDirect3DSurface9* a0, const RECT* a1, D3DCOLOR a2) override {
        return inner_->ColorFill(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE CreateOffscreenPlainSurface(UINT a0, UINT a1, D3DFORMAT a2, D3DPOOL a3,
                                                          IDirect3DSurface9** a4, HANDLE* a5) override {
        return inner_->CreateOffscreenPlainSurface(a0, a1, a2, a3, a4, a5);
    }
    HRESULT STDMETHODCALLTYPE SetRenderTarget(DWORD a0, IDirect3DSurface9* a1) override {
        return inner_->SetRenderTarget(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetRenderTarget(DWORD a0, IDirect3DSurface9** a1) override {
        return inner_->GetRenderTarget(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetDepthStencilSurface(IDirect3DSurface9* a0) override {
        return inner_->SetDepthStencilSurface(a0);
    }
    HRESULT STDMETHODCALLTYPE GetDepthStencilSurface(IDirect3DSurface9** a0) override {
        return inner_->GetDepthStencilSurface(a0);
    }
    HRESULT STDMETHODCALLTYPE MultiplyTransform(D3DTRANSFORMSTATETYPE a0, const D3DMATRIX* a1) override {
        return inner_->MultiplyTransform(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT9* a0) override { return inner_->SetViewport(a0); }
    HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9* a0) override { return inner_->SetMaterial(a0); }
    HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9* a0) override { return inner_->GetMaterial(a0); }
    HRESULT STDMETHODCALLTYPE SetLight(DWORD a0, const D3DLIGHT9* a1) override { return inner_->SetLight(a0, a1); }
    HRESULT STDMETHODCALLTYPE GetLight(DWORD a0, D3DLIGHT9* a1) override { return inner_->GetLight(a0, a1); }
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD a0, BOOL a1) override { return inner_->LightEnable(a0, a1); }
    HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD a0, BOOL* a1) override { return inner_->GetLightEnable(a0, a1); }
    HRESULT STDMETHODCALLTYPE SetClipPlane(DWORD a0, const float* a1) override { return inner_->SetClipPlane(a0, a1); }
    HRESULT STDMETHODCALLTYPE GetClipPlane(DWORD a0, float* a1) override { return inner_->GetClipPlane(a0, a1); }
    HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE a0, IDirect3DStateBlock9** a1) override {
        return inner_->CreateStateBlock(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE BeginStateBlock() override { return inner_->BeginStateBlock(); }
    HRESULT STDMETHODCALLTYPE EndStateBlock(IDirect3DStateBlock9** a0) override { return inner_->EndStateBlock(a0); }
    HRESULT STDMETHODCALLTYPE SetClipStatus(const D3DCLIPSTATUS9* a0) override { return inner_->SetClipStatus(a0); }
    HRESULT STDMETHODCALLTYPE GetClipStatus(D3DCLIPSTATUS9* a0) override { return inner_->GetClipStatus(a0); }
    HRESULT STDMETHODCALLTYPE GetTexture(DWORD a0, IDirect3DBaseTexture9** a1) override {
        return inner_->GetTexture(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD a0, IDirect3DBaseTexture9* a1) override {
        return inner_->SetTexture(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD a0, D3DTEXTURESTAGESTATETYPE a1, DWORD* a2) override {
        return inner_->GetTextureStageState(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD a0, D3DTEXTURESTAGESTATETYPE a1, DWORD a2) override {
        return inner_->SetTextureStageState(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD a0, D3DSAMPLERSTATETYPE a1, DWORD* a2) override {
        return inner_->GetSamplerState(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD a0, D3DSAMPLERSTATETYPE a1, DWORD a2) override {
        return inner_->SetSamplerState(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE ValidateDevice(DWORD* a0) override { return inner_->ValidateDevice(a0); }
    HRESULT STDMETHODCALLTYPE SetPaletteEntries(UINT a0, const PALETTEENTRY* a1) override {
        return inner_->SetPaletteEntries(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetPaletteEntries(UINT a0, PALETTEENTRY* a1) override {
        return inner_->GetPaletteEntries(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetCurrentTexturePalette(UINT a0) override {
        return inner_->SetCurrentTexturePalette(a0);
    }
    HRESULT STDMETHODCALLTYPE GetCurrentTexturePalette(UINT* a0) override {
        return inner_->GetCurrentTexturePalette(a0);
    }
    HRESULT STDMETHODCALLTYPE SetScissorRect(const RECT* a0) override { return inner_->SetScissorRect(a0); }
    HRESULT STDMETHODCALLTYPE GetScissorRect(RECT* a0) override { return inner_->GetScissorRect(a0); }
    HRESULT STDMETHODCALLTYPE SetSoftwareVertexProcessing(BOOL a0) override {
        return inner_->SetSoftwareVertexProcessing(a0);
    }
    BOOL STDMETHODCALLTYPE GetSoftwareVertexProcessing() override { return inner_->GetSoftwareVertexProcessing(); }
    HRESULT STDMETHODCALLTYPE SetNPatchMode(float a0) override { return inner_->SetNPatchMode(a0); }
    float STDMETHODCALLTYPE GetNPatchMode() override { return inner_->GetNPatchMode(); }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE a0, INT a1, UINT a2, UINT a3, UINT a4,
                                                   UINT a5) override {
        return inner_->DrawIndexedPrimitive(a0, a1, a2, a3, a4, a5);
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE a0, UINT a1, const void* a2, UINT a3) override {
        return inner_->DrawPrimitiveUP(a0, a1, a2, a3);
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE a0, UINT a1, UINT a2, UINT a3, const void* a4,
                                                     D3DFORMAT a5, const void* a6, UINT a7) override {
        return inner_->DrawIndexedPrimitiveUP(a0, a1, a2, a3, a4, a5, a6, a7);
    }
    HRESULT STDMETHODCALLTYPE ProcessVertices(UINT a0, UINT a1, UINT a2, IDirect3DVertexBuffer9* a3,
                                              IDirect3DVertexDeclaration9* a4, DWORD a5) override {
        return inner_->ProcessVertices(a0, a1, a2, a3, a4, a5);
    }
    HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9* a0,
                                                      IDirect3DVertexDeclaration9** a1) override {
        return inner_->CreateVertexDeclaration(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9* a0) override {
        return inner_->SetVertexDeclaration(a0);
    }
    HRESULT STDMETHODCALLTYPE GetVertexDeclaration(IDirect3DVertexDeclaration9** a0) override {
        return inner_->GetVertexDeclaration(a0);
    }
    HRESULT STDMETHODCALLTYPE CreateVertexShader(const DWORD* a0, IDirect3DVertexShader9** a1) override {
        return inner_->CreateVertexShader(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9* a0) override {
        return inner_->SetVertexShader(a0);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9** a0) override {
        return inner_->GetVertexShader(a0);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantF(UINT a0, const float* a1, UINT a2) override {
        return inner_->SetVertexShaderConstantF(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantF(UINT a0, float* a1, UINT a2) override {
        return inner_->GetVertexShaderConstantF(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantI(UINT a0, const int* a1, UINT a2) override {
        return inner_->SetVertexShaderConstantI(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantI(UINT a0, int* a1, UINT a2) override {
        return inner_->GetVertexShaderConstantI(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShaderConstantB(UINT a0, const BOOL* a1, UINT a2) override {
        return inner_->SetVertexShaderConstantB(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShaderConstantB(UINT a0, BOOL* a1, UINT a2) override {
        return inner_->GetVertexShaderConstantB(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetStreamSource(UINT a0, IDirect3DVertexBuffer9** a1, UINT* a2, UINT* a3) override {
        return inner_->GetStreamSource(a0, a1, a2, a3);
    }
    HRESULT STDMETHODCALLTYPE SetStreamSourceFreq(UINT a0, UINT a1) override {
        return inner_->SetStreamSourceFreq(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE GetStreamSourceFreq(UINT a0, UINT* a1) override {
        return inner_->GetStreamSourceFreq(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9* a0) override { return inner_->SetIndices(a0); }
    HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer9** a0) override { return inner_->GetIndices(a0); }
    HRESULT STDMETHODCALLTYPE CreatePixelShader(const DWORD* a0, IDirect3DPixelShader9** a1) override {
        return inner_->CreatePixelShader(a0, a1);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9* a0) override { return inner_->SetPixelShader(a0); }
    HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9** a0) override { return inner_->GetPixelShader(a0); }
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantF(UINT a0, const float* a1, UINT a2) override {
        return inner_->SetPixelShaderConstantF(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantF(UINT a0, float* a1, UINT a2) override {
        return inner_->GetPixelShaderConstantF(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantI(UINT a0, const int* a1, UINT a2) override {
        return inner_->SetPixelShaderConstantI(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantI(UINT a0, int* a1, UINT a2) override {
        return inner_->GetPixelShaderConstantI(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShaderConstantB(UINT a0, const BOOL* a1, UINT a2) override {
        return inner_->SetPixelShaderConstantB(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShaderConstantB(UINT a0, BOOL* a1, UINT a2) override {
        return inner_->GetPixelShaderConstantB(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE DrawRectPatch(UINT a0, const float* a1, const D3DRECTPATCH_INFO* a2) override {
        return inner_->DrawRectPatch(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE DrawTriPatch(UINT a0, const float* a1, const D3DTRIPATCH_INFO* a2) override {
        return inner_->DrawTriPatch(a0, a1, a2);
    }
    HRESULT STDMETHODCALLTYPE DeletePatch(UINT a0) override { return inner_->DeletePatch(a0); }
    HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE a0, IDirect3DQuery9** a1) override {
        return inner_->CreateQuery(a0, a1);
    }

protected:
    TraceVertexBufferBase* WrapBuffer(IDirect3DVertexBuffer9* inner, UINT length, DWORD fvf) override {
        return new TraceVertexBuffer(inner, state_, length, fvf);
    }
};

}  // namespace

IDirect3DDevice9* CreateTraceDevice(IDirect3DDevice9* device, std::ostream& out) {
    return new TraceDevice(device, out);
}
