// The core's face to its owner: its life, its runs and production, and where a stream resumes for a time.
#include "ogg_demuxer.h"

#include <cstdlib>

#include "file_reader.h"
#include "seek_search.h"

HRESULT COggDemuxer::Create(IOggByteSource* source, const CFourccMap& fourccs, IOggDemuxSink* sink, COggDemuxer** out) {
    *out = nullptr;
    if (!source || !sink) return E_POINTER;
    COggDemuxer* core = new COggDemuxer(source, fourccs, sink);
    if (!core) return E_OUTOFMEMORY;
    *out = core;
    return S_OK;
}

COggDemuxer::COggDemuxer(IOggByteSource* source, const CFourccMap& fourccs, IOggDemuxSink* sink)
    : m_pSource(source), m_pSink(sink), m_fourccs(fourccs) {
    m_pSource->AddRef();
    m_pSink->AddRef();
}

COggDemuxer::~COggDemuxer() {
    delete m_pReader.load(); // its thread has ended, or is this very thread on its way out
    FreeStreams();
    m_pSink->Release();
    m_pSource->Release();
}

ULONG COggDemuxer::AddRef() { return ++m_refCount; }

ULONG COggDemuxer::Release() {
    const ULONG n = --m_refCount;
    if (n == 0) delete this;
    return n;
}

void COggDemuxer::FreeStreams() {
    for (int32_t i = 0; i < m_cOggStreams; ++i) delete m_ppOggStreams[i];
    std::free(m_ppOggStreams);
    m_ppOggStreams = nullptr;
    m_cOggStreams = 0;
    FreeLinks();
}

COggStream* COggDemuxer::FindStream(uint32_t serial) const {
    for (int32_t i = 0; i < m_cOggStreams; ++i)
        if (m_ppOggStreams[i]->Logical().Serial() == serial) return m_ppOggStreams[i];
    return nullptr;
}

COggStream* COggDemuxer::StreamOfSerial(uint32_t serial) const {
    if (COggStream* s = FindStream(serial)) return s;
    if (m_cLinks < 2) return nullptr;
    for (int32_t i = 0; i < m_cOggStreams; ++i)
        if (m_ppOggStreams[i]->Logical().OwnsSerial(serial)) return m_ppOggStreams[i];
    return nullptr;
}

const COggLogicalStream& COggDemuxer::LinkStreamAt(int32_t k, int32_t i) const {
    return k == 0 ? m_ppOggStreams[i]->Logical() : *m_ppLinkRecords[m_pLinks[k].firstRecord + i];
}

// The reader thread starts with the first run, holding a reference on the core until it ends.
HRESULT COggDemuxer::StartReader() {
    COggFileReader* reader = new COggFileReader(this);
    HRESULT hr = reader ? reader->Init() : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
        AddRef();
        if (!reader->Create()) {
            Release();
            hr = E_OUTOFMEMORY; // a thread could not be made
        }
    }
    if (FAILED(hr)) delete reader;
    else m_pReader = reader;
    return hr;
}

HRESULT COggDemuxer::BeginRun(DWORD run, LONGLONG start) {
    if (!m_pReader) {
        const HRESULT hr = StartReader();
        if (FAILED(hr)) return hr;
    }
    for (int32_t i = 0; i < m_cOggStreams; ++i) m_ppOggStreams[i]->BeginRun(run, StopTime());
    m_pReader.load()->Post(ReaderJob::Run, run, start);
    return S_OK;
}

void COggDemuxer::JoinStream(int32_t stream, DWORD run) {
    m_ppOggStreams[stream]->BeginRun(run, StopTime());
}

void COggDemuxer::JoinRun(DWORD run, LONGLONG position) {
    if (COggFileReader* reader = m_pReader.load()) reader->Post(ReaderJob::Join, run, position);
}

void COggDemuxer::StopRun() {
    for (int32_t i = 0; i < m_cOggStreams; ++i) m_ppOggStreams[i]->StopRun();
    if (COggFileReader* reader = m_pReader.load()) reader->Post(ReaderJob::Idle, 0, 0);
}

void COggDemuxer::Shutdown() {
    StopRun();
    if (COggFileReader* reader = m_pReader.load()) reader->Post(ReaderJob::Exit, 0, 0);
}

HRESULT COggDemuxer::Produce(int32_t stream, DWORD run, IOggDemuxSink* sink) {
    COggFileReader* reader = m_pReader.load();
    if (stream < 0 || stream >= m_cOggStreams || !reader) return S_OK;
    return m_ppOggStreams[stream]->Produce(run, sink, reader);
}

HRESULT COggDemuxer::SearchStream(CSeekSearch* search, const COggLogicalStream* record, LONGLONG target,
                                  LONGLONG* position, LONGLONG* time, LONGLONG* firstWanted) {
    *firstWanted = MinTime;
    if (target == 0) {
        *position = search->Begin();
        *time = 0;
        return S_OK;
    }
    return search->Position(record, target, MaxTime, position, time, firstWanted);
}

HRESULT COggDemuxer::ResumePoint(CSeekSearch* search, COggStream* s, LONGLONG start, LONGLONG* position, LONGLONG* time,
                                 LONGLONG* firstWanted) {
    *position = 0;
    *time = 0;
    *firstWanted = MinTime;
    if (start == 0) return S_OK; // the start of the file, without a search
    if (start >= m_llSpan) { // at or past the end: nothing is left to read
        *position = m_llFileLength;
        *time = SatAdd(m_llSpan, m_llOrigin);
        return S_OK;
    }
    if (s->Logical().Chained()) return ChainedResume(search, s, start, position, time, firstWanted);
    // Seek targets are positions on the presentation's timeline: the origin gives the streams' own time.
    LONGLONG wanted = MinTime;
    const HRESULT hr = SearchStream(search, &s->Logical(), SatAdd(m_llOrigin, start), position, time, &wanted);
    if (SUCCEEDED(hr) && wanted != MinTime) *firstWanted = SatSub(wanted, m_llOrigin);
    return hr;
}

const COggLogicalStream* COggDemuxer::LinkStream(uint32_t serial, int32_t link) const {
    if (link == 0) {
        const COggStream* s = FindStream(serial);
        return s ? &s->Logical() : nullptr;
    }
    const FileLink& l = m_pLinks[link];
    for (int32_t i = l.firstRecord; i < l.firstRecord + l.records; ++i)
        if (m_ppLinkRecords[i]->Serial() == serial) return m_ppLinkRecords[i];
    return nullptr;
}

const COggLogicalStream* COggDemuxer::FindAnyStream(uint32_t serial) const {
    if (const COggStream* s = FindStream(serial)) return &s->Logical();
    for (int32_t i = 0; i < m_cLinkRecords; ++i)
        if (m_ppLinkRecords[i]->Serial() == serial) return m_ppLinkRecords[i];
    return nullptr;
}

int32_t COggDemuxer::LinkAt(LONGLONG time) const {
    int32_t k = 0;
    while (k + 1 < m_cLinks && m_pLinks[k + 1].start <= time) ++k;
    return k;
}
