#include "ConnectionShare.h"

#include "CurlRequest.h"

ConnectionShare::ConnectionShare() {
    InitializeCurl();
    share_ = curl_share_init();
    if (share_ == nullptr) {
        return; // every transfer then opens its own connection, as without a share
    }
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &ConnectionShare::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &ConnectionShare::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    for (const curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
        curl_share_setopt(share_, CURLSHOPT_SHARE, data);
    }
}

ConnectionShare::~ConnectionShare() {
    curl_easy_cleanup(kept_); // before the share it may still use
    curl_share_cleanup(share_);
}

CURL* ConnectionShare::TakeEasyHandle() {
    CURL* handle = nullptr;
    {
        std::lock_guard lock(keptMutex_);
        std::swap(handle, kept_);
    }
    return handle != nullptr ? handle : curl_easy_init();
}

void ConnectionShare::KeepEasyHandle(CURL* handle) {
    // Its options point into the request that used it: none may outlive that request.
    curl_easy_reset(handle);
    std::lock_guard lock(keptMutex_);
    std::swap(handle, kept_);
    curl_easy_cleanup(handle);
}

void ConnectionShare::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<ConnectionShare*>(self)->locks_.at(data).lock();
}

void ConnectionShare::Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<ConnectionShare*>(self)->locks_.at(data).unlock();
}
