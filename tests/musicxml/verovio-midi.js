// Verovio as a second MusicXML reader for the tests: reads each MusicXML file named on the command line and
// writes the MIDI file Verovio plays from it beside it, as FILE.mid.
const verovio = require('verovio');
const fs = require('fs');

verovio.module.onRuntimeInitialized = () => {
    const toolkit = new verovio.toolkit();
    let failed = 0;
    for (const file of process.argv.slice(2)) {
        if (!toolkit.loadData(fs.readFileSync(file, 'utf8'))) {
            console.error(`${file}: Verovio could not read it`);
            failed = 1;
            continue;
        }
        fs.writeFileSync(`${file}.mid`, Buffer.from(toolkit.renderToMIDI(), 'base64'));
    }
    process.exit(failed);
};
