#include "clijobs.h"

#include "createcommand.h"
#include "digestcommand.h"
#include "updatecommand.h"
#include "verifycommand.h"

CliJobs::CliJobs(bool quiet, bool progress, int jobs)
{
    settings.quiet = quiet;
    settings.progress = progress && !quiet;
    settings.jobs = jobs;
}

void CliJobs::setJsonOutput(bool jsonOutput)
{
    settings.json = jsonOutput;
}

void CliJobs::setSubset(unsigned slice, unsigned slices)
{
    settings.subsetSlice = slices == 0 ? 0 : slice;
    settings.subsetSlices = slices;
}

void CliJobs::setMetrics(MetricsFile *metricsFile)
{
    settings.metrics = metricsFile;
}

void CliJobs::setSliceState(const QByteArray &stateFile)
{
    settings.sliceStateFile = stateFile;
}

void CliJobs::setAccepted(const QList<QByteArray> &files)
{
    settings.acceptedFiles = files;
}

int CliJobs::create(const QByteArray &sourceDir, const QByteArray &checksumFile)
{
    return CreateCommand(settings).run(sourceDir, checksumFile);
}

int CliJobs::verify(const QByteArray &sourceDir, const QByteArray &checksumFile, bool damageOnly)
{
    return VerifyCommand(settings).run(sourceDir, checksumFile, damageOnly);
}

int CliJobs::update(const QByteArray &sourceDir, const QByteArray &checksumFile)
{
    return UpdateCommand(settings).run(sourceDir, checksumFile);
}

int CliJobs::digest(const QString &algorithm, const QList<QByteArray> &files)
{
    return DigestCommand(settings).run(algorithm, files);
}
