// The mfplay view of `oggsource tags` (Windows only): the player's media item hands its metadata as a
// property store, which the system's mfplay takes from the source's MF_PROPERTY_HANDLER_SERVICE.
#include <vector>

#include "platform/com_impl.h"
#include "tags_views.h"

#include <mfplay.h>

namespace {
HRESULT WidePath(const std::string& path, std::vector<WCHAR>* wide) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 0) return E_INVALIDARG;
    wide->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide->data(), n) > 0 ? S_OK : E_INVALIDARG;
}

// The item's store as a view; the item and its store are released before the player shuts down.
HRESULT ItemView(IMFPMediaPlayer* player, const WCHAR* url, nlohmann::json* out) {
    PlatRef<IMFPMediaItem> item;
    PlatRef<IPropertyStore> store;
    HRESULT hr = player->CreateMediaItemFromURL(url, TRUE, 0, &item);
    if (SUCCEEDED(hr)) hr = item->GetMetadata(&store);
    if (SUCCEEDED(hr)) *out = StoreView(store.Get());
    return hr;
}
} // namespace

HRESULT MfplayView(const std::string& path, nlohmann::json* out) {
    std::vector<WCHAR> url;
    HRESULT hr = WidePath(path, &url);
    if (FAILED(hr)) return hr;
    // No window and no callback: the item is made synchronously and nothing is played, so no message loop is
    // needed; COM is the caller's (tags has it initialised for the shell view).
    PlatRef<IMFPMediaPlayer> player;
    hr = MFPCreateMediaPlayer(nullptr, FALSE, MFP_OPTION_NONE, nullptr, nullptr, &player);
    if (FAILED(hr)) return hr;
    hr = ItemView(player.Get(), url.data(), out);
    const HRESULT down = player->Shutdown();
    return FAILED(hr) ? hr : down;
}
